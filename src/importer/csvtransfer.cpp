#include "importer/csvtransfer.h"

#include "importer/counted.h"
#include "importer/csvcommon.h"

#include "store/catalogue.h"
#include "store/dberrortext.h"
#include "store/transaction.h"

#include <csv.h>

#include <QFile>
#include <QHash>
#include <QStringDecoder>
#include <algorithm>
#include <charconv>
#include <memory>

namespace kalvero::importer {

namespace {

constexpr const char* kColumns[] = {"NameData", "FilePath", "Category", "DescriptionData"};
constexpr int kFilePath = 1;
// What a header field maps to besides the four texts.
constexpr int kIgnored = -1;
constexpr int kIdColumn = 4;

// Gathers libcsv's field and record callbacks into rows, checking each
// field as it comes.
struct Reader {
    std::vector<std::optional<QByteArray>> record;
    std::vector<int> columnOf;  // for each header field: 0-3, kIdColumn or kIgnored
    bool haveHeader = false;
    std::array<bool, 4> named{};
    bool hasId = false;
    qint64 line = 1;        // the line being fed
    qint64 recordLine = 1;  // where the current record began
    std::optional<QString> error;
    std::vector<CsvRow> rows;

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

    void readHeader(qint64 at) {
        for (const auto& name : record) {
            const QByteArray trimmed = name ? name->trimmed() : QByteArray();
            int column = kIgnored;
            if (!hasId && trimmed.compare("ID", Qt::CaseInsensitive) == 0) {
                column = kIdColumn;
                hasId = true;
            }
            for (int c = 0; c < 4; ++c) {
                if (!named[size_t(c)] && trimmed.compare(kColumns[c], Qt::CaseInsensitive) == 0) {
                    column = c;
                    named[size_t(c)] = true;
                }
            }
            columnOf.push_back(column);
        }
        // Without the file's path a row is no entry at all.
        if (!named[kFilePath])
            fail(at, QStringLiteral("the header has no FilePath column. The columns are ID, "
                                    "NameData, FilePath, Category and DescriptionData, in any "
                                    "order; only FilePath is required."));
    }

    void endRecord() {
        if (error) return;
        const qint64 started = recordLine;
        if (!haveHeader) {
            haveHeader = true;
            readHeader(started);
            record.clear();
            return;
        }
        const auto fields = qint64(record.size());
        const auto headerFields = qint64(columnOf.size());
        if (fields > headerFields) {
            return fail(started, QStringLiteral("the row has %1, the header only %2.")
                                     .arg(counted(fields, QStringLiteral("%1 field"),
                                                  QStringLiteral("%1 fields")))
                                     .arg(headerFields));
        }
        // Every field the export writes is there, quoted or empty; a row
        // that stops early is most likely a file cut short.
        if (fields < headerFields) {
            return fail(started, QStringLiteral("the row has only %1, the header %2; the file "
                                                "may have been cut short.")
                                     .arg(counted(fields, QStringLiteral("%1 field"),
                                                  QStringLiteral("%1 fields")))
                                     .arg(headerFields));
        }
        CsvRow row;
        row.line = started;
        for (size_t i = 0; i < record.size(); ++i) {
            const int column = columnOf[i];
            if (column == kIdColumn)
                row.id = std::move(record[i]);
            else if (column != kIgnored)
                row.texts[size_t(column)] = std::move(record[i]);
        }
        rows.push_back(std::move(row));
        record.clear();
    }
};

void onField(void* data, size_t len, void* reader) {
    static_cast<Reader*>(reader)->field(data, len);
}
void onRecordEnd(int, void* reader) { static_cast<Reader*>(reader)->endRecord(); }
// Blanks around an unquoted field are part of it (RFC 4180); libcsv would trim them.
int noBlanks(unsigned char) { return 0; }

std::optional<qint64> wholeNumber(const QByteArray& text) {
    qint64 value = 0;
    const char* end = text.constData() + text.size();
    const auto [stop, error] = std::from_chars(text.constData(), end, value);
    if (text.isEmpty() || error != std::errc() || stop != end) return std::nullopt;
    return value;
}

TextViews viewsOf(const CsvEntry& entry) {
    TextViews views;
    for (size_t c = 0; c < 4; ++c) {
        if (entry[c]) views[c] = QByteArrayView(*entry[c]);
    }
    return views;
}

// The four texts of the current row from column `first` on.
TextViews storedTexts(const store::Statement& st, int first) {
    TextViews views;
    for (int c = 0; c < 4; ++c) {
        if (st.isNull(first + c)) continue;
        int bytes = 0;
        const char* text = st.text(first + c, bytes);
        views[size_t(c)] = QByteArrayView(text, bytes);
    }
    return views;
}

bool sameTexts(const TextViews& a, const TextViews& b, const std::array<bool, 4>& compared) {
    for (size_t c = 0; c < 4; ++c) {
        if (!compared[c]) continue;
        if (a[c].has_value() != b[c].has_value()) return false;
        if (a[c] && *a[c] != *b[c]) return false;
    }
    return true;
}

size_t hashOf(const TextViews& texts) {
    size_t h = 0;
    for (const auto& text : texts) h = text ? qHashMulti(h, true, *text) : qHashMulti(h, false);
    return h;
}

void bindTexts(store::Statement& st, const CsvEntry& texts, const std::array<bool, 4>& which) {
    int parameter = 0;
    for (size_t c = 0; c < 4; ++c) {
        if (!which[c]) continue;
        if (texts[c])
            st.bindText(++parameter, *texts[c]);
        else
            st.bindNull(++parameter);
    }
}

constexpr std::array<bool, 4> kAllTexts{true, true, true, true};

// Leaves out rows equal to an entry stored before the import. One pass over
// the stored entries keeps a hash of their texts with the ID; a row whose
// hash is there is compared with that entry, found by its ID.
void addRows(store::Connection& connection, const ParsedCsv& parsed, CsvOutcome& outcome) {
    std::vector<std::pair<size_t, qint64>> known;
    {
        store::Statement all(connection, QByteArrayLiteral("select ID, NameData, FilePath, "
                                                           "Category, DescriptionData from "
                                                           "SoundData"));
        while (all.step()) known.emplace_back(hashOf(storedTexts(all, 1)), all.int64(0));
    }
    std::sort(known.begin(), known.end());
    store::Statement byId(connection, QByteArrayLiteral("select NameData, FilePath, Category, "
                                                        "DescriptionData from SoundData where "
                                                        "ID = ?"));
    store::Statement insert(connection,
                            QByteArrayLiteral("insert into SoundData (NameData, FilePath, "
                                              "Category, DescriptionData) values (?, ?, ?, ?)"));
    for (const CsvRow& row : parsed.rows) {
        const TextViews texts = viewsOf(row.texts);
        const size_t hash = hashOf(texts);
        auto candidate =
            std::lower_bound(known.begin(), known.end(), std::make_pair(hash, qint64()),
                             [](const auto& a, const auto& b) { return a.first < b.first; });
        bool stored = false;
        for (; !stored && candidate != known.end() && candidate->first == hash; ++candidate) {
            byId.reset();
            byId.bindInt64(1, candidate->second);
            stored = byId.step() && sameTexts(storedTexts(byId, 0), texts, kAllTexts);
        }
        byId.reset();
        if (stored) {
            ++outcome.skipped;
            continue;
        }
        insert.reset();
        bindTexts(insert, row.texts, kAllTexts);
        insert.step();
        ++outcome.rows;
    }
}

// A row whose ID names an entry sets that entry's texts in the columns the
// header names; the others stay as they are, so a file without a
// description column does not wipe the descriptions.
void updateRows(store::Connection& connection, const ParsedCsv& parsed,
                const std::vector<std::optional<qint64>>& ids, CsvOutcome& outcome) {
    QByteArray setTexts;
    for (size_t c = 0; c < 4; ++c) {
        if (!parsed.named[c]) continue;
        if (!setTexts.isEmpty()) setTexts += ", ";
        setTexts += QByteArray(kColumns[c]) + " = ?";
    }
    store::Statement byId(connection, QByteArrayLiteral("select NameData, FilePath, Category, "
                                                        "DescriptionData from SoundData where "
                                                        "ID = ?"));
    store::Statement update(connection, "update SoundData set " + setTexts + " where ID = ?");
    const int idParameter = int(std::count(parsed.named.begin(), parsed.named.end(), true)) + 1;
    store::Statement insert(connection,
                            QByteArrayLiteral("insert into SoundData (NameData, FilePath, "
                                              "Category, DescriptionData) values (?, ?, ?, ?)"));
    for (size_t i = 0; i < parsed.rows.size(); ++i) {
        const CsvRow& row = parsed.rows[i];
        if (ids[i]) {
            byId.reset();
            byId.bindInt64(1, *ids[i]);
            const bool found = byId.step();
            const bool same =
                found && sameTexts(storedTexts(byId, 0), viewsOf(row.texts), parsed.named);
            byId.reset();
            if (found && same) {
                ++outcome.unchanged;
                continue;
            }
            if (found) {
                update.reset();
                bindTexts(update, row.texts, parsed.named);
                update.bindInt64(idParameter, *ids[i]);
                update.step();
                ++outcome.updated;
                continue;
            }
        }
        insert.reset();
        bindTexts(insert, row.texts, kAllTexts);
        insert.step();
        ++outcome.rows;
    }
}

// The IDs of an update, checked before anything is stored: each a whole
// number, none twice (which of two rows should win?).
std::optional<QString> readIds(const ParsedCsv& parsed, std::vector<std::optional<qint64>>& ids) {
    QHash<qint64, qint64> lineOf;
    for (const CsvRow& row : parsed.rows) {
        std::optional<qint64> id;
        if (row.id && !row.id->isEmpty()) {
            id = wholeNumber(*row.id);
            if (!id) {
                const QString shown = QString::fromUtf8(*row.id);
                return QStringLiteral("Line %1: the ID \"%2\" is not a whole number.")
                    .arg(row.line)
                    .arg(shown.size() > 40 ? shown.left(40) + QStringLiteral("...") : shown);
            }
            if (const auto seen = lineOf.constFind(*id); seen != lineOf.cend()) {
                return QStringLiteral(
                           "Line %1: the ID %2 is on line %3 already; an entry can "
                           "only be updated once.")
                    .arg(row.line)
                    .arg(*id)
                    .arg(*seen);
            }
            lineOf.insert(*id, row.line);
        }
        ids.push_back(id);
    }
    return std::nullopt;
}

}  // namespace

ParsedCsv parseCatalogueCsv(const QByteArray& input) {
    QByteArrayView data(input);
    if (data.startsWith("\xEF\xBB\xBF")) data = data.sliced(3);  // a byte-order mark
    Reader reader;
    csv_parser parser{};
    csv_init(&parser, CSV_STRICT | CSV_STRICT_FINI | CSV_EMPTY_IS_NULL);
    std::unique_ptr<csv_parser, void (*)(csv_parser*)> guard(&parser, csv_free);
    csv_set_space_func(&parser, noBlanks);
    // Fed a line at a time, so that every callback knows its line.
    qsizetype at = 0;
    while (at < data.size() && !reader.error) {
        // A line that starts between records (libcsv's state 0, outside any
        // quoted field) starts the next record, whichever way the last one
        // ended; one that starts inside a quoted field continues it.
        if (parser.pstate == 0) reader.recordLine = reader.line;
        qsizetype end = data.indexOf('\n', at);
        end = end < 0 ? data.size() : end + 1;
        const size_t length = size_t(end - at);
        if (csv_parse(&parser, data.constData() + at, length, onField, onRecordEnd, &reader) !=
                length &&
            !reader.error) {
            const int code = csv_error(&parser);
            reader.fail(reader.line, code == CSV_EPARSE
                                         ? QStringLiteral("a quote is out of place (%1).")
                                               .arg(QString::fromUtf8(csv_strerror(code)))
                                         : QStringLiteral("the file could not be read (%1).")
                                               .arg(QString::fromUtf8(csv_strerror(code))));
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
    if (!result.error) {
        result.rows = std::move(reader.rows);
        result.named = reader.named;
        result.hasId = reader.hasId;
    }
    return result;
}

CsvOutcome importCsv(const QString& cataloguePath, const QString& csvPath, CsvImport mode) {
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
    std::vector<std::optional<qint64>> ids;
    if (!parsed.error && mode == CsvImport::Update) {
        // Every row would be added: surely not what an update was meant to do.
        if (!parsed.hasId)
            parsed.error = QStringLiteral(
                "An update finds entries by their ID, and the header "
                "has no ID column.");
        else
            parsed.error = readIds(parsed, ids);
    }
    if (parsed.error) {
        outcome.error = QStringLiteral("%1 was not imported. %2").arg(csvPath, *parsed.error);
        return outcome;
    }
    try {
        store::Connection connection = openExisting(cataloguePath);
        sqlite3_busy_timeout(connection.handle(), store::kBulkBusyTimeoutMs);
        store::Transaction transaction(connection);
        if (mode == CsvImport::Update)
            updateRows(connection, parsed, ids, outcome);
        else
            addRows(connection, parsed, outcome);
        transaction.commit();
    } catch (const store::DbError& error) {
        outcome = CsvOutcome();
        outcome.error =
            store::describeFailure(QStringLiteral("store the rows in"), cataloguePath, error);
        return outcome;
    }
    outcome.ok = true;
    return outcome;
}

}  // namespace kalvero::importer
