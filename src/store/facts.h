#pragma once

#include "store/sqlitehandle.h"

#include <QList>
#include <QString>
#include <array>
#include <optional>

namespace kalvero::store {

// What the import read from an entry's sound file beyond the four texts:
// tags, UCS fields and technical facts. They live in a table of their own,
// SoundFacts, beside SoundData in the same file, one row per entry keyed by
// its ID. The table has no trigger and no constraint, so a program that knows
// nothing of it opens, changes and deletes entries as before; facts whose
// entry is gone are never shown (every read joins SoundData) and are cleared
// at the next import. Entries with no facts (added by hand or from CSV) are
// as valid as any.

enum class Fact {
    Title,
    Description,
    Artist,
    Originator,
    OriginatorReference,
    OriginationDate,
    Keywords,
    Genre,
    Library,
    Copyright,
    CatID,
    UCSCategory,
    UserCategory,
    VendorCategory,
    FXName,
    CreatorID,
    SourceID,
    UserData,
    Container,
    Codec,
    SampleRate,
    BitDepth,
    Channels,
    Frames,
    Duration,
    FileSize,
    Modified,
    // What kalvero-cli analyse measured in the audio (see reconcile/audioanalysis.h):
    // the hash in hex; loudness (LUFS), its range (LU) and the sample peak (dBFS)
    // as text with one decimal, "-inf" for silence; and the file's size and
    // modification time (nanoseconds since the epoch) the results belong to.
    AudioHash,
    Loudness,
    LoudnessRange,
    SamplePeak,
    AnalysedSize,
    AnalysedModified,
    Count
};
inline constexpr int kFactCount = int(Fact::Count);

// A fact's column in SoundFacts, which is also its name in kalvero-cli's
// output and its CSV column.
const char* factName(Fact fact);
// Whether the column holds whole numbers.
bool isNumericFact(Fact fact);

// One entry's facts; an empty text is a fact not known.
class FactValues {
public:
    QString& operator[](Fact fact) { return values_[size_t(fact)]; }
    const QString& operator[](Fact fact) const { return values_[size_t(fact)]; }
    bool isEmpty() const;

private:
    std::array<QString, kFactCount> values_;
};

// Whether the catalogue has the table.
bool hasFactsTable(const Connection& connection);

// Whether the table has the fact's column (a table made by an earlier version may lack it).
bool hasFactColumn(const Connection& connection, Fact fact);

// For writers: makes the table when it is missing, adds the columns this
// program knows and an older table lacks, and clears facts whose entry is
// gone. Runs on the caller's transaction.
void prepareFactsTable(Connection& connection);
// Only makes the table or adds the missing columns, on the caller's
// transaction; true when it changed anything.
bool ensureFactsColumns(Connection& connection);

// Writes the facts of entries just added, on the caller's transaction. The
// table must be prepared.
class FactsWriter {
public:
    explicit FactsWriter(Connection& connection);
    // Replaces whatever a row of that ID held before.
    void write(qint64 id, const FactValues& facts);

private:
    Statement insert_;
};

// The facts of the entry `id`; nothing when it has none, or is gone, or the
// catalogue has no table.
std::optional<FactValues> readFacts(const Connection& connection, qint64 id);

// Writes some of the facts of existing entries, on the caller's transaction,
// and leaves the others as they are: an entry without a row gets one with
// only these. The table must be prepared.
class FactsUpdater {
public:
    FactsUpdater(Connection& connection, QList<Fact> facts);
    // An empty value is stored as none.
    void write(qint64 id, const FactValues& values);

private:
    void bind(Statement& statement, qint64 id, const FactValues& values);

    Connection& connection_;
    QList<Fact> facts_;
    Statement update_;
    Statement insert_;
};

// "F.Title, F.Description, ..." for a select that joins SoundFacts as F; a
// column that a table made by an earlier version lacks is read as NULL, so
// reading needs no write.
QByteArray factColumnsSql(const Connection& connection);
// The facts from such a select's row, whose first fact column is `first`.
FactValues factsFromRow(const Statement& row, int first);

}  // namespace kalvero::store
