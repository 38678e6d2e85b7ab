#pragma once

#include <QByteArray>
#include <QString>
#include <array>
#include <optional>
#include <vector>

namespace kalvero::importer {

// The catalogue as CSV (RFC 4180, UTF-8): a header row
// "ID,NameData,FilePath,Category,DescriptionData", then every entry in ID
// order. Texts are always quoted and a NULL is an empty field, so that a
// file read back gives the same texts, blanks and NULLs.

struct CsvOutcome {
    bool ok = false;
    qint64 rows = 0;
    // What went wrong, in plain words (with the line, for a malformed file).
    QString error;
};

// Writes the whole catalogue; the file is replaced only once it is complete.
CsvOutcome exportCsv(const QString& cataloguePath, const QString& csvPath);

// Adds every row of the file, in file order, in one transaction; a malformed
// file is refused and nothing is stored.
CsvOutcome importCsv(const QString& cataloguePath, const QString& csvPath);

// One row's NameData, FilePath, Category and DescriptionData; nullopt is NULL.
using CsvEntry = std::array<std::optional<QByteArray>, 4>;

struct ParsedCsv {
    std::vector<CsvEntry> rows;
    // Set for a malformed file: the line and what is wrong there.
    std::optional<QString> error;
};

// Reads such a file: columns matched by header name, case ignored; the ID
// column and unknown columns ignored; missing columns NULL. Refuses an
// unbalanced quote, a row with more fields than the header, text that is not
// UTF-8 or holds a NUL.
ParsedCsv parseCatalogueCsv(const QByteArray& data);

}  // namespace kalvero::importer
