#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <array>
#include <optional>
#include <vector>

class QIODevice;

namespace kalvero::importer {

// The catalogue as CSV (RFC 4180, UTF-8): a header row
// "ID,NameData,FilePath,Category,DescriptionData", then every entry in ID
// order. Texts are always quoted and a NULL is an empty field, so that a
// file read back gives the same texts, blanks and NULLs, and a file cut
// anywhere but at a line's end no longer parses.

struct CsvOutcome {
    bool ok = false;
    // Export: the rows written. Import: the entries added.
    qint64 rows = 0;
    // Import: rows equal to an entry that was there before, left out.
    qint64 skipped = 0;
    // Import with CsvImport::Update: entries whose texts the file changed,
    // and rows whose entry already had those texts.
    qint64 updated = 0;
    qint64 unchanged = 0;
    // What went wrong, in plain words (with the line, for a malformed file).
    QString error;
};

// Writes the whole catalogue to csvPath. A file there is replaced only once
// the export is complete, and stays as it was when it fails; a device or a
// pipe (/dev/stdout, a FIFO) is written directly. The catalogue file and the
// journal files beside it are refused, by whatever path they are named.
// With `facts`, one column per fact the import read follows the five, named
// as in the facts table and empty where an entry has none; import-csv
// ignores those columns, so the five read back as they were.
CsvOutcome exportCsv(const QString& cataloguePath, const QString& csvPath, bool facts = false);

// The same onto a device already open for writing, such as standard output;
// `outName` names it in a message.
CsvOutcome exportCsv(const QString& cataloguePath, QIODevice& out, const QString& outName,
                     bool facts = false);

// Whether writing `path` would write over the catalogue file or one of the
// files the engine keeps beside it (-journal, -wal, -shm), through links,
// "..", another hard link or a folder of another name.
bool isCatalogueFile(const QString& cataloguePath, const QString& path);

enum class CsvImport {
    // Every row is added, except one whose four texts equal those of an
    // entry stored before the import (a second import of the same file adds
    // nothing). Rows repeated inside the file all go in.
    Add,
    // A row whose ID names a stored entry replaces that entry's texts (only
    // the columns the header names); any other row is added.
    Update,
};

// Reads the file and stores its rows, in file order, in one transaction; a
// malformed file is refused and nothing is stored.
CsvOutcome importCsv(const QString& cataloguePath, const QString& csvPath,
                     CsvImport mode = CsvImport::Add);

// One row's NameData, FilePath, Category and DescriptionData; nullopt is NULL.
using CsvEntry = std::array<std::optional<QByteArray>, 4>;

struct CsvRow {
    // The line the row starts on, for messages.
    qint64 line = 0;
    // The ID field as written; nullopt when empty or when there is no ID column.
    std::optional<QByteArray> id;
    CsvEntry texts;
};

struct ParsedCsv {
    std::vector<CsvRow> rows;
    // Which of the four texts the header names; the others are NULL in every row.
    std::array<bool, 4> named{};
    bool hasId = false;
    // Set for a malformed file: the line and what is wrong there.
    std::optional<QString> error;
};

// Reads such a file from memory: columns matched by header name, blanks
// around it and case ignored; unknown columns ignored; missing text columns
// NULL. Blanks around unquoted fields are kept as part of the field. Refuses
// a header without FilePath, an unbalanced or stray quote, a row with more
// or fewer fields than the header, text that is not UTF-8 or holds a NUL.
// Empty lines are skipped.
ParsedCsv parseCatalogueCsv(const QByteArray& data);

// The header row the export writes, line break included.
inline constexpr char kCsvHeader[] = "ID,NameData,FilePath,Category,DescriptionData\r\n";

// Appends one row as the export writes it: the ID as it is, each text
// quoted with its quotes doubled, a NULL as an empty field, then CRLF.
void appendCsvRow(QByteArray& out, QByteArrayView id,
                  const std::array<std::optional<QByteArrayView>, 4>& texts);

}  // namespace kalvero::importer
