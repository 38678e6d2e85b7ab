#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kalvero::reconcile {

// What makes entries duplicates of one another.
enum class DuplicateKind {
    // The same path, byte for byte: letter case and Unicode forms count.
    SamePath,
    // The same audio hash, as kalvero-cli analyse stored it: the same sound
    // under other names, tags or containers. Entries never analysed are not grouped.
    SameAudio,
};

struct DuplicateEntry {
    qint64 id = 0;
    QByteArray path;
};

struct DuplicateGroup {
    // What the entries share: for SamePath, the path; for SameAudio, the hash in hex.
    QByteArray key;
    // In ID order.
    QList<DuplicateEntry> entries;
};

// An entry with the key it is grouped by.
struct KeyedEntry {
    QByteArray key;
    DuplicateEntry entry;
};

// The keys that two or more entries share, largest group first, then by the
// group's first ID. Entries with an empty key are never grouped.
QList<DuplicateGroup> groupDuplicates(QList<KeyedEntry> entries);

// The duplicates in the catalogue file at `cataloguePath`. Throws
// store::DbError when it cannot be read.
QList<DuplicateGroup> findDuplicates(const QString& cataloguePath, DuplicateKind kind);

}  // namespace kalvero::reconcile
