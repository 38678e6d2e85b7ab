#include "importer/csvtransfer.h"

#include "importer/counted.h"

#include "store/catalogue.h"
#include "store/dberrortext.h"
#include "store/facts.h"
#include "store/transaction.h"

#include <csv.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSaveFile>
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

using TextViews = std::array<std::optional<QByteArrayView>, 4>;

void appendQuoted(QByteArray& out, QByteArrayView text) {
    out += '"';
    if (!text.contains('"')) {
        out.append(text);
    } else {
        for (const char c : text) {
            if (c == '"') out += '"';
            out += c;
        }
    }
    out += '"';
}

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

store::Connection openExisting(const QString& cataloguePath) {
    return store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
}

// The name the engine gives a file: links in its last part followed (to a
// file that does not exist yet too) and its folder made canonical.
QString resolvedName(const QString& path) {
    QFileInfo info(QFileInfo(path).absoluteFilePath());
    for (int hops = 0; hops < 40 && info.isSymLink(); ++hops) info.setFile(info.symLinkTarget());
    const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
    return QDir(folder.isEmpty() ? QDir::cleanPath(info.absolutePath()) : folder)
        .filePath(info.fileName());
}

std::optional<std::pair<dev_t, ino_t>> fileIdentity(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
    return std::make_pair(st.st_dev, st.st_ino);
}

enum class Written { Ok, ReadFailed, WriteFailed };

// A short write is tried again for the rest, so that a failure comes with
// the system's reason (a disk fills up part way through a write).
bool put(QIODevice& out, const QByteArray& bytes) {
    for (qsizetype done = 0; done < bytes.size();) {
        const qint64 n = out.write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) return false;
        done += qsizetype(n);
    }
    return true;
}

// The export's statement: the five columns, then with `facts` one column per
// fact (NULL for every entry when the catalogue has no facts table).
QByteArray exportSelect(const store::Connection& connection, bool facts) {
    QByteArray select = "select S.ID, S.NameData, S.FilePath, S.Category, S.DescriptionData";
    if (facts && store::hasFactsTable(connection))
        return select + ", " + store::factColumnsSql(connection) +
               " from SoundData S left join SoundFacts F on F.ID = S.ID order by S.ID";
    for (int f = 0; facts && f < store::kFactCount; ++f) select += ", NULL";
    return select + " from SoundData S order by S.ID";
}

// A fact's field after the five: numbers bare, texts quoted, nothing for none.
void appendFact(QByteArray& chunk, const store::Statement& rows, int f) {
    const int column = 5 + f;
    chunk += ',';
    if (rows.isNull(column)) return;
    int bytes = 0;
    const char* text = rows.text(column, bytes);
    if (store::isNumericFact(store::Fact(f)))
        chunk.append(text, bytes);
    else
        appendQuoted(chunk, QByteArrayView(text, bytes));
}

// Writes the catalogue onto `out`. On a write failure `outcome.error` is the
// device's own reason, for the caller to word.
Written writeCatalogue(const QString& cataloguePath, QIODevice& out, bool facts,
                       CsvOutcome& outcome) {
    try {
        store::Connection connection = openExisting(cataloguePath);
        store::Statement rows(connection, exportSelect(connection, facts));
        QByteArray chunk(kCsvHeader);
        if (facts) {
            chunk.chop(2);
            for (int f = 0; f < store::kFactCount; ++f)
                chunk += ',' + QByteArray(store::factName(store::Fact(f)));
            chunk += "\r\n";
        }
        while (rows.step()) {
            TextViews texts;
            for (int c = 0; c < 4; ++c) {
                if (rows.isNull(c + 1)) continue;
                int bytes = 0;
                const char* text = rows.text(c + 1, bytes);
                texts[size_t(c)] = QByteArrayView(text, bytes);
            }
            int idBytes = 0;
            const char* id = rows.text(0, idBytes);
            appendCsvRow(chunk, QByteArrayView(id, idBytes), texts);
            if (facts) {
                chunk.chop(2);
                for (int f = 0; f < store::kFactCount; ++f) appendFact(chunk, rows, f);
                chunk += "\r\n";
            }
            ++outcome.rows;
            if (chunk.size() > (1 << 20)) {
                if (!put(out, chunk)) {
                    outcome.error = out.errorString();
                    return Written::WriteFailed;
                }
                chunk.clear();
            }
        }
        if (!put(out, chunk)) {
            outcome.error = out.errorString();
            return Written::WriteFailed;
        }
    } catch (const store::DbError& error) {
        outcome.error = store::describeFailure(QStringLiteral("read"), cataloguePath, error);
        return Written::ReadFailed;
    }
    // A buffered device may still hold the end.
    if (auto* file = qobject_cast<QFileDevice*>(&out); file && !file->flush()) {
        outcome.error = out.errorString();
        return Written::WriteFailed;
    }
    return Written::Ok;
}

QString writeFailure(const QString& target, const QString& cause) {
    return QStringLiteral("The export failed: could not write %1 (%2).")
        .arg(QDir::toNativeSeparators(target), cause);
}

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

void appendCsvRow(QByteArray& out, QByteArrayView id,
                  const std::array<std::optional<QByteArrayView>, 4>& texts) {
    out.append(id);
    for (const auto& text : texts) {
        out += ',';
        if (text) appendQuoted(out, *text);
    }
    out += "\r\n";
}

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

bool isCatalogueFile(const QString& cataloguePath, const QString& path) {
    const QString asGiven = QDir::cleanPath(QFileInfo(cataloguePath).absoluteFilePath());
    const QString resolved = resolvedName(cataloguePath);
    const QString target = resolvedName(path);
    const auto targetIdentity = fileIdentity(path);
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        for (const QString& catalogue : {asGiven, resolved}) {
            const QString candidate = catalogue + QLatin1String(suffix);
            if (resolvedName(candidate) == target) return true;
            if (targetIdentity && fileIdentity(candidate) == targetIdentity) return true;
        }
    }
    return false;
}

CsvOutcome exportCsv(const QString& cataloguePath, QIODevice& out, const QString& outName,
                     bool facts) {
    CsvOutcome outcome;
    const Written written = writeCatalogue(cataloguePath, out, facts, outcome);
    if (written == Written::WriteFailed) outcome.error = writeFailure(outName, outcome.error);
    outcome.ok = written == Written::Ok;
    return outcome;
}

CsvOutcome exportCsv(const QString& cataloguePath, const QString& csvPath, bool facts) {
    CsvOutcome outcome;
    const QString shown = QDir::toNativeSeparators(csvPath);
    if (isCatalogueFile(cataloguePath, csvPath)) {
        outcome.error = QStringLiteral(
                            "%1 is the catalogue itself or one of its journal files; "
                            "export to a file of another name. Nothing was written.")
                            .arg(shown);
        return outcome;
    }
    const QFileInfo target(csvPath);
    if (target.exists() && !target.isFile() && !target.isDir()) {
        // A device or a pipe is written, never replaced: a new file put in
        // place of /dev/stdout or a FIFO would be wrong.
        QFile device(csvPath);
        if (!device.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
            outcome.error = writeFailure(csvPath, device.errorString());
            return outcome;
        }
        return exportCsv(cataloguePath, device, csvPath, facts);
    }
    const bool existed = target.exists();
    QSaveFile file(csvPath);
    if (!file.open(QIODevice::WriteOnly)) {
        outcome.error = writeFailure(csvPath, file.errorString());
        return outcome;
    }
    const Written written = writeCatalogue(cataloguePath, file, facts, outcome);
    if (written == Written::Ok && file.commit()) {
        outcome.ok = true;
        return outcome;
    }
    if (written == Written::Ok) outcome.error = file.errorString();
    file.cancelWriting();
    if (written != Written::ReadFailed) outcome.error = writeFailure(csvPath, outcome.error);
    outcome.error += existed ? QStringLiteral(" %1 was left as it was.").arg(shown)
                             : QStringLiteral(" No file was left there.");
    return outcome;
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
