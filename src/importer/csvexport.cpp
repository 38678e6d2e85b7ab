#include "importer/csvtransfer.h"

#include "importer/csvcommon.h"

#include "store/catalogue.h"
#include "store/dberrortext.h"
#include "store/facts.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace kalvero::importer {

namespace {

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

}  // namespace kalvero::importer
