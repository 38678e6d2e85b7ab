#include "reconcile/rescan.h"

#include "importer/counted.h"
#include "importer/soundinfo.h"
#include "importer/soundwalk.h"
#include "reconcile/drives.h"
#include "store/catalogue.h"
#include "store/facts.h"
#include "store/transaction.h"

#include <sys/stat.h>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace kalvero::reconcile {

namespace {

using store::Fact;

// As an import does: a batch of facts read again is stored after this long
// even when it is not full, so that a cancel never waits for long.
constexpr qint64 kBatchMaxMs = 2000;

// The facts an import writes: everything but what analyse measures, which
// analyse redoes itself once it sees the file's size or time changed.
QList<Fact> importFacts() {
    QList<Fact> facts;
    for (int i = 0; i < int(Fact::AudioHash); ++i) facts << Fact(i);
    return facts;
}

struct Stored {
    enum class State { Unseen, Present, Gone, Offline };
    qint64 id = 0;
    QByteArray path;
    // What the import saw: -1 and empty when the entry has no such fact.
    qint64 size = -1;
    QByteArray modified;
    // The next entry in the rescan that names the same path, or -1.
    qsizetype nextSame = -1;
    State state = State::Unseen;
};

// The entries in ID order, with the size and time their file had when imported.
std::vector<Stored> readStored(const store::Connection& connection) {
    const bool size = store::hasFactColumn(connection, Fact::FileSize);
    const bool modified = store::hasFactColumn(connection, Fact::Modified);
    const QByteArray sql =
        QByteArrayLiteral("select S.ID, S.FilePath, ") + (size ? "F.FileSize, " : "NULL, ") +
        (modified ? "F.Modified" : "NULL") + " from SoundData S" +
        (size || modified ? " left join SoundFacts F on F.ID = S.ID" : "") + " order by S.ID";
    std::vector<Stored> rows;
    store::Statement select(connection, sql);
    while (select.step()) {
        Stored row;
        row.id = select.int64(0);
        row.path = select.textBytes(1);
        if (!select.isNull(2)) row.size = select.int64(2);
        row.modified = select.textBytes(3);
        rows.push_back(std::move(row));
    }
    return rows;
}

// "/a/b" as "/a/b/": a path lies in the folder when it starts with this.
QByteArray folderPrefix(const QByteArray& folder) {
    return folder.endsWith('/') ? folder : folder + '/';
}

// The folders that lie in no other of them, each once. Sorted by their
// prefixes, a folder's subfolders come right after it.
QList<QByteArray> outermost(QList<QByteArray> folders) {
    std::sort(folders.begin(), folders.end(), [](const QByteArray& a, const QByteArray& b) {
        return folderPrefix(a) < folderPrefix(b);
    });
    QList<QByteArray> kept;
    for (const QByteArray& folder : folders)
        if (kept.isEmpty() || !folderPrefix(folder).startsWith(folderPrefix(kept.constLast())))
            kept << folder;
    return kept;
}

QList<QByteArray> foldersOf(const std::vector<Stored>& rows) {
    QSet<QByteArray> parents;
    for (const Stored& row : rows) {
        const qsizetype slash = row.path.lastIndexOf('/');
        if (row.path.startsWith('/') && slash > 0) parents.insert(row.path.left(slash));
    }
    QList<QByteArray> folders;
    for (const QByteArray& parent : parents) {
        // A path typed by hand may hold "//" or "..": the walk needs it clean.
        const QByteArray clean = QFile::encodeName(QDir::cleanPath(QFile::decodeName(parent)));
        if (clean != "/") folders << clean;
    }
    return outermost(folders);
}

// Which paths lie in the rescanned folders (or are files given themselves).
class Scope {
public:
    explicit Scope(const QList<QByteArray>& folders) : exact_(folders) {
        for (const QByteArray& folder : folders) prefixes_ << folderPrefix(folder);
        std::sort(exact_.begin(), exact_.end());
        std::sort(prefixes_.begin(), prefixes_.end());
    }

    // The folders are outermost, so the last prefix not after the path is the
    // only one that can hold it.
    bool contains(const QByteArray& path) const {
        const auto after = std::upper_bound(prefixes_.cbegin(), prefixes_.cend(), path);
        return (after != prefixes_.cbegin() && path.startsWith(*(after - 1))) ||
               std::binary_search(exact_.cbegin(), exact_.cend(), path);
    }

private:
    QList<QByteArray> exact_;
    QList<QByteArray> prefixes_;
};

class Rescan {
public:
    Rescan(const QString& cataloguePath, RescanProgress& progress, RescanResult& result)
        : cataloguePath_(cataloguePath),
          connection_(
              store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX)),
          progress_(progress),
          result_(result) {
        sqlite3_busy_timeout(connection_.handle(), store::kBulkBusyTimeoutMs);
    }

    void run(const QStringList& folders) {
        std::vector<Stored> all;
        bool complete = false;
        if (folders.isEmpty()) {
            all = readStored(connection_);
            result_.folders = foldersOf(all);
            complete = walk();
        } else {
            QList<QByteArray> given;
            for (const QString& folder : folders) given << importer::storedPathOf(folder);
            result_.folders = outermost(given);
            // The catalogue is read while the folders are walked: deriving its
            // key and reading its pages cost about as much as the walk.
            std::optional<store::DbError> readFailure;
            {
                const std::jthread reader([&] {
                    try {
                        all = readStored(connection_);
                    } catch (const store::DbError& error) {
                        readFailure = error;
                    }
                });
                complete = walk();
            }
            if (readFailure) throw *readFailure;
        }
        result_.import.unreadableFolders = counts_.unreadableFolders;
        result_.import.brokenLinks = counts_.brokenLinks;
        result_.import.vanished = counts_.vanished;
        result_.import.missingPaths = counts_.missingRoots;
        // Without the whole walk nothing can be called gone.
        if (!complete || progress_.cancel.load()) {
            result_.cancelled = true;
            return;
        }

        const Scope scope(result_.folders);
        byPath_.reserve(qsizetype(all.size()));
        for (Stored& row : all) {
            if (!scope.contains(row.path)) continue;
            const qsizetype index = qsizetype(rows_.size());
            if (const auto known = byPath_.find(row.path); known == byPath_.end()) {
                byPath_.insert(row.path, index);
            } else {
                // The same path twice (from a CSV file): a chain from the last to the first.
                row.nextSame = *known;
                *known = index;
            }
            rows_.push_back(std::move(row));
        }
        all = {};
        for (const Found& file : found_) {
            const auto known = byPath_.constFind(file.path);
            if (known != byPath_.cend()) {
                for (qsizetype index = *known; index >= 0; index = rows_[size_t(index)].nextSame)
                    judge(index, file.size, file.modified);
            } else if (file.path.isValidUtf8()) {
                newFiles_ << QFile::decodeName(file.path);
            } else {
                // Stored texts are UTF-8, as the import has them.
                ++result_.import.unstorableNames;
            }
        }
        found_ = {};
        lookAtUnseen();
        if (findUnplugged()) return;
        rereadChanged();
        if (progress_.cancel.load())
            result_.cancelled = true;
        else
            importNew();
    }

private:
    struct Found {
        QByteArray path;
        qint64 size;
        qint64 modified;
    };

    bool walk() {
        QStringList paths;
        for (const QByteArray& folder : result_.folders) paths << QFile::decodeName(folder);
        return importer::walkSoundFilesWithStat(
            paths, counts_,
            [this](const QByteArray& path, const struct stat& st) {
                found_.push_back({path, qint64(st.st_size), qint64(st.st_mtim.tv_sec)});
                progress_.found.store(++result_.found, std::memory_order_relaxed);
                return !progress_.cancel.load(std::memory_order_relaxed);
            },
            &progress_.cancel);
    }

    // Compares the file with what its import saw.
    void judge(qsizetype index, qint64 size, qint64 modified) {
        Stored& row = rows_[size_t(index)];
        row.state = Stored::State::Present;
        bool same = row.size < 0 || row.size == size;
        if (same && !row.modified.isEmpty()) {
            // Files copied together share their second: the text is made once for them.
            if (modified != modifiedSeconds_ || modifiedText_.isEmpty()) {
                modifiedSeconds_ = modified;
                modifiedText_ = importer::isoTime(modified).toLatin1();
            }
            same = row.modified == modifiedText_;
        }
        // An entry with neither fact (added by hand or from CSV) has nothing to
        // compare: it counts as unchanged, and costs no read.
        if (same)
            ++result_.unchanged;
        else
            changed_.push_back(index);
    }

    // Entries the walk did not meet: hidden names, files given by name that
    // are not sound files, paths spelled otherwise, folders it could not list.
    void lookAtUnseen() {
        const Volumes volumes = currentVolumes();
        QHash<QByteArray, QByteArray> driveOfFolder;
        QSet<QByteArray> drives;
        for (qsizetype index = 0; index < qsizetype(rows_.size()); ++index) {
            Stored& row = rows_[size_t(index)];
            if (row.state != Stored::State::Unseen) continue;
            if (struct stat st{}; ::stat(row.path.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
                judge(index, qint64(st.st_size), qint64(st.st_mtim.tv_sec));
                continue;
            }
            const QByteArray folder =
                row.path.left(std::max<qsizetype>(row.path.lastIndexOf('/'), 0));
            auto drive = driveOfFolder.constFind(folder);
            if (drive == driveOfFolder.cend())
                drive = driveOfFolder.insert(folder, volumes.offlineDrive(row.path));
            if (!drive->isEmpty()) {
                row.state = Stored::State::Offline;
                ++result_.offline;
                drives.insert(*drive);
            } else {
                row.state = Stored::State::Gone;
                result_.gone.append({row.id, QString::fromUtf8(row.path)});
            }
        }
        result_.offlineDrives = drives.values();
        std::sort(result_.offlineDrives.begin(), result_.offlineDrives.end());
    }

    // Prune's rule: a top folder more than half of whose entries are gone
    // looks unplugged, and then nothing at all is changed.
    bool findUnplugged() {
        if (result_.gone.isEmpty()) return false;
        const Volumes volumes = currentVolumes();
        QHash<QByteArray, QByteArray> topOfFolder;
        QHash<QByteArray, std::pair<qint64, qint64>> counts;  // entries, gone
        for (const Stored& row : rows_) {
            if (row.state == Stored::State::Offline) continue;
            const QByteArray folder =
                row.path.left(std::max<qsizetype>(row.path.lastIndexOf('/'), 0));
            auto top = topOfFolder.constFind(folder);
            if (top == topOfFolder.cend())
                top = topOfFolder.insert(folder, volumes.topFolder(row.path));
            auto& [entries, gone] = counts[*top];
            ++entries;
            if (row.state == Stored::State::Gone) ++gone;
        }
        for (auto it = counts.cbegin(); it != counts.cend(); ++it)
            if (!it.key().isEmpty() && it->second * 2 > it->first) result_.unplugged << it.key();
        std::sort(result_.unplugged.begin(), result_.unplugged.end());
        return !result_.unplugged.isEmpty();
    }

    void rereadChanged() {
        if (changed_.empty()) return;
        {
            store::Transaction transaction(connection_);
            store::prepareFactsTable(connection_);
            transaction.commit();
        }
        std::vector<std::pair<qsizetype, store::FactValues>> batch;
        QElapsedTimer sinceStored;
        sinceStored.start();
        for (const qsizetype index : changed_) {
            if (progress_.cancel.load()) {
                result_.cancelled = true;
                break;
            }
            const importer::SoundInfo info = importer::readSoundInfo(rows_[size_t(index)].path);
            if (info.status == importer::SoundInfo::Status::Readable)
                batch.emplace_back(index, importer::factValues(info));
            else
                ++result_.unreadableChanged;
            if (batch.size() >= size_t(importer::kImportBatchSize) ||
                sinceStored.elapsed() >= kBatchMaxMs) {
                storeFacts(batch);
                sinceStored.restart();
            }
        }
        // What was read before a cancel is kept as well.
        storeFacts(batch);
    }

    void storeFacts(std::vector<std::pair<qsizetype, store::FactValues>>& batch) {
        if (batch.empty()) return;
        store::Transaction transaction(connection_);
        store::FactsUpdater updater(connection_, importFacts());
        // An entry relinked or removed since the catalogue was read names
        // another file now: these facts are not its.
        store::Statement same(connection_,
                              QByteArrayLiteral("select 1 from SoundData where ID = "
                                                "?1 and FilePath = ?2 collate binary"));
        qint64 written = 0;
        for (const auto& [index, facts] : batch) {
            const Stored& row = rows_[size_t(index)];
            same.reset();
            same.bindInt64(1, row.id);
            same.bindText(2, row.path);
            if (!same.step()) continue;
            updater.write(row.id, facts);
            ++written;
        }
        same.reset();
        transaction.commit();
        batch.clear();
        result_.changed += written;
        progress_.changed.fetch_add(written);
    }

    // The new files go in as an import of each by name puts them.
    void importNew() {
        if (newFiles_.isEmpty()) return;
        importer::ImportProgress importing;
        std::atomic<bool> done{false};
        // Passes the import's count out and a cancel in, while the import runs.
        std::thread relay([&] {
            while (!done.load()) {
                progress_.added.store(importing.added.load());
                if (progress_.cancel.load()) importing.cancel.store(true);
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        importer::ImportResult imported =
            importer::importPaths(cataloguePath_, newFiles_, importing);
        done.store(true);
        relay.join();
        progress_.added.store(importing.added.load());
        // The walk's own counts stay; the import's are for the files it was given.
        imported.vanished += result_.import.vanished + imported.missingPaths;
        imported.missingPaths = result_.import.missingPaths;
        imported.unreadableFolders = result_.import.unreadableFolders;
        imported.brokenLinks = result_.import.brokenLinks;
        imported.unstorableNames += result_.import.unstorableNames;
        result_.cancelled = imported.cancelled;
        result_.failure = imported.failure;
        result_.import = std::move(imported);
    }

    QString cataloguePath_;
    store::Connection connection_;
    RescanProgress& progress_;
    RescanResult& result_;
    // The entries under the rescanned folders, in ID order, and where each path's last one is.
    std::vector<Stored> rows_;
    QHash<QByteArray, qsizetype> byPath_;
    importer::WalkCounts counts_;
    // The sound files the walk met, with their size and time.
    std::vector<Found> found_;
    qint64 modifiedSeconds_ = 0;
    QByteArray modifiedText_;
    QStringList newFiles_;
    std::vector<qsizetype> changed_;
};

}  // namespace

QList<QByteArray> entryFolders(const QString& cataloguePath) {
    const store::Connection connection =
        store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READONLY);
    std::vector<Stored> rows;
    store::Statement select(connection, QByteArrayLiteral("select FilePath from SoundData"));
    while (select.step()) {
        Stored row;
        row.path = select.textBytes(0);
        rows.push_back(std::move(row));
    }
    return foldersOf(rows);
}

RescanResult rescanFolders(const QString& cataloguePath, const QStringList& folders,
                           RescanProgress& progress) {
    RescanResult result;
    try {
        Rescan rescan(cataloguePath, progress, result);
        rescan.run(folders);
    } catch (const store::DbError& error) {
        result.failure = error;
    }
    return result;
}

QString rescanSummary(const RescanResult& result) {
    using importer::counted;
    const QString gone =
        counted(result.gone.size(), QStringLiteral("%1 file is gone (kept in the catalogue)."),
                QStringLiteral("%1 files are gone (kept in the catalogue)."));
    if (!result.unplugged.isEmpty()) {
        QStringList folders;
        for (const QByteArray& folder : result.unplugged) folders << QFile::decodeName(folder);
        return QStringLiteral(
                   "Nothing was changed: more than half of the files under %1 are gone, so it "
                   "looks unplugged. Connect it and rescan again. ")
                   .arg(folders.join(QStringLiteral(", "))) +
               gone;
    }
    const importer::ImportResult& import = result.import;
    QStringList said;
    if (import.added > 0)
        said << counted(import.added, QStringLiteral("Added %1 new sound file."),
                        QStringLiteral("Added %1 new sound files."));
    if (result.changed > 0)
        said << counted(result.changed, QStringLiteral("Read again %1 changed file."),
                        QStringLiteral("Read again %1 changed files."));
    if (!result.gone.isEmpty()) said << gone;
    QString text = said.isEmpty() ? QStringLiteral("Nothing new, changed or gone.")
                                  : said.join(QLatin1Char(' '));
    QStringList notTaken;
    if (import.unreadable)
        notTaken << counted(import.unreadable, QStringLiteral("%1 new file is not readable"),
                            QStringLiteral("%1 new files are not readable"));
    if (result.unreadableChanged)
        notTaken << counted(
            result.unreadableChanged,
            QStringLiteral("%1 changed file could not be read (its facts are kept)"),
            QStringLiteral("%1 changed files could not be read (their facts are kept)"));
    if (result.offline)
        notTaken << counted(result.offline,
                            QStringLiteral("%1 entry is on a drive that is not connected: %2"),
                            QStringLiteral("%1 entries are on drives that are not connected: %2"))
                        .arg(QFile::decodeName(result.offlineDrives.join(", ")));
    notTaken << importer::leftOutByTheWalk(import);
    if (!notTaken.isEmpty())
        text += QLatin1Char(' ') + notTaken.join(QStringLiteral("; ")) + QLatin1Char('.');
    return text;
}

}  // namespace kalvero::reconcile
