#include "importer/csvtransfer.h"

#include "store/catalogue.h"
#include "store/dberrortext.h"
#include "store/transaction.h"

#include <csv.h>

#include <QFile>
#include <QSaveFile>
#include <QStringDecoder>
#include <memory>

namespace kalvero::importer {

namespace {

constexpr const char* kColumns[] = {"NameData", "FilePath", "Category", "DescriptionData"};

void appendQuoted(QByteArray& out, const char* text, int bytes) {
    out += '"';
    for (int i = 0; i < bytes; ++i) {
        if (text[i] == '"') out += '"';
        out += text[i];
    }
    out += '"';
}

// Gathers libcsv's field and record callbacks into records, checking each
// field as it comes.
struct Reader {
    std::vector<std::optional<QByteArray>> record;
    std::vector<int> columnOf;  // for each header field: 0-3, or -1 for ignored
    bool haveHeader = false;
    qsizetype headerFields = 0;
    qint64 line = 1;        // the line being fed
    qint64 recordLine = 1;  // where the current record began
    std::optional<QString> error;
    std::vector<CsvEntry> rows;

    void fail(qint64 at, const QString& what) {
        if (!error) error = QStringLiteral("Line %1: %2").arg(at).arg(what);
    }

    void field(void* data, size_t len) {
        if (error) return;
        if (!data) {
            record.emplace_back(std::nullopt);
            return;
        }
        QByteArray bytes(static_cast<const char*>(data), static_cast<qsizetype>(len));
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString decoded = utf8(bytes);
        if (utf8.hasError()) return fail(line, QStringLiteral("the text is not valid UTF-8."));
        if (bytes.contains('\0'))
            return fail(line, QStringLiteral("a field holds a NUL character."));
        record.emplace_back(std::move(bytes));
    }

    void endRecord() {
        if (error) return;
        const qint64 started = recordLine;
        recordLine = line + 1;
        if (!haveHeader) {
            haveHeader = true;
            headerFields = static_cast<qsizetype>(record.size());
            bool any = false;
            for (const auto& name : record) {
                int column = -1;
                for (int c = 0; c < 4 && name; ++c) {
                    const bool taken =
                        std::find(columnOf.begin(), columnOf.end(), c) != columnOf.end();
                    if (!taken && name->trimmed().compare(kColumns[c], Qt::CaseInsensitive) == 0)
                        column = c;
                }
                any = any || column >= 0;
                columnOf.push_back(column);
            }
            record.clear();
            if (!any)
                fail(started, QStringLiteral("the header names none of the columns NameData, "
                                             "FilePath, Category, DescriptionData."));
            return;
        }
        if (static_cast<qsizetype>(record.size()) > headerFields) {
            fail(started, QStringLiteral("the row has %1 fields, the header only %2.")
                              .arg(record.size())
                              .arg(headerFields));
            return;
        }
        CsvEntry entry;
        for (size_t i = 0; i < record.size(); ++i) {
            if (columnOf[i] >= 0) entry[size_t(columnOf[i])] = std::move(record[i]);
        }
        rows.push_back(std::move(entry));
        record.clear();
    }
};

void onField(void* data, size_t len, void* reader) {
    static_cast<Reader*>(reader)->field(data, len);
}
void onRecordEnd(int, void* reader) { static_cast<Reader*>(reader)->endRecord(); }

store::Connection openExisting(const QString& cataloguePath) {
    return store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
}

}  // namespace

ParsedCsv parseCatalogueCsv(const QByteArray& input) {
    QByteArrayView data(input);
    if (data.startsWith("\xEF\xBB\xBF")) data = data.sliced(3);  // a byte-order mark
    Reader reader;
    csv_parser parser{};
    csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_EMPTY_IS_NULL);
    std::unique_ptr<csv_parser, void (*)(csv_parser*)> guard(&parser, csv_free);
    // Fed a line at a time, so that every callback knows its line.
    qsizetype at = 0;
    while (at < data.size() && !reader.error) {
        qsizetype end = data.indexOf('\n', at);
        end = end < 0 ? data.size() : end + 1;
        const size_t length = size_t(end - at);
        if (csv_parse(&parser, data.constData() + at, length, onField, onRecordEnd, &reader) !=
            length) {
            reader.fail(reader.line, QStringLiteral("a quote is out of place (%1).")
                                         .arg(QString::fromUtf8(csv_strerror(csv_error(&parser)))));
        }
        at = end;
        if (end > 0 && data[end - 1] == '\n') ++reader.line;
    }
    if (!reader.error && csv_fini(&parser, onField, onRecordEnd, &reader) != 0)
        reader.fail(reader.recordLine, QStringLiteral("a quoted field is never closed."));
    if (!reader.error && !reader.haveHeader)
        reader.fail(1, QStringLiteral("the file is empty; it needs at least a header row."));
    ParsedCsv result;
    result.error = reader.error;
    if (!result.error) result.rows = std::move(reader.rows);
    return result;
}

CsvOutcome exportCsv(const QString& cataloguePath, const QString& csvPath) {
    CsvOutcome outcome;
    QSaveFile file(csvPath);
    if (!file.open(QIODevice::WriteOnly)) {
        outcome.error = QStringLiteral("Could not write %1: %2").arg(csvPath, file.errorString());
        return outcome;
    }
    try {
        store::Connection connection = openExisting(cataloguePath);
        store::Statement rows(connection,
                              QByteArrayLiteral("select ID, NameData, FilePath, Category, "
                                                "DescriptionData from SoundData order by ID"));
        QByteArray out = "ID,NameData,FilePath,Category,DescriptionData\r\n";
        while (rows.step()) {
            out += rows.textBytes(0);
            for (int c = 1; c <= 4; ++c) {
                out += ',';
                if (rows.isNull(c)) continue;
                int bytes = 0;
                const char* text = rows.text(c, bytes);
                appendQuoted(out, text, bytes);
            }
            out += "\r\n";
            ++outcome.rows;
            if (out.size() > (1 << 20)) {
                file.write(out);
                out.clear();
            }
        }
        file.write(out);
    } catch (const store::DbError& error) {
        file.cancelWriting();
        outcome.error = store::describeFailure(QStringLiteral("read"), cataloguePath, error);
        return outcome;
    }
    if (!file.commit()) {
        outcome.error = QStringLiteral("Could not write %1: %2").arg(csvPath, file.errorString());
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

CsvOutcome importCsv(const QString& cataloguePath, const QString& csvPath) {
    CsvOutcome outcome;
    QFile file(csvPath);
    if (!file.open(QIODevice::ReadOnly)) {
        outcome.error = QStringLiteral("Could not read %1: %2").arg(csvPath, file.errorString());
        return outcome;
    }
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        outcome.error = QStringLiteral("Could not read %1: %2").arg(csvPath, file.errorString());
        return outcome;
    }
    ParsedCsv parsed = parseCatalogueCsv(data);
    if (parsed.error) {
        outcome.error = QStringLiteral("%1 was not imported. %2").arg(csvPath, *parsed.error);
        return outcome;
    }
    try {
        store::Connection connection = openExisting(cataloguePath);
        sqlite3_busy_timeout(connection.handle(), store::kBulkBusyTimeoutMs);
        store::Transaction transaction(connection);
        store::Statement insert(
            connection, QByteArrayLiteral("insert into SoundData (NameData, FilePath, "
                                          "Category, DescriptionData) values (?, ?, ?, ?)"));
        for (const CsvEntry& row : parsed.rows) {
            insert.reset();
            for (int c = 0; c < 4; ++c) {
                if (row[size_t(c)])
                    insert.bindText(c + 1, *row[size_t(c)]);
                else
                    insert.bindNull(c + 1);
            }
            insert.step();
        }
        transaction.commit();
    } catch (const store::DbError& error) {
        outcome.error =
            store::describeFailure(QStringLiteral("add the rows to"), cataloguePath, error);
        return outcome;
    }
    outcome.ok = true;
    outcome.rows = qint64(parsed.rows.size());
    return outcome;
}

}  // namespace kalvero::importer
