#include "importer/folderimport.h"

#include "importer/soundinfo.h"
#include "importer/soundwalk.h"
#include "store/catalogue.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <string>
#include <unordered_set>
#include <vector>

namespace kalvero::importer {

namespace {

// An import waits this long for another program's lock on the catalogue; the
// window's longest hold is a list load of a million entries.
constexpr int kImportBusyTimeoutMs = 60000;
// A batch is stored after this long even when it is not full, so that a slow
// disk still shows progress and a cancel never waits for thousands of files.
constexpr qint64 kBatchMaxMs = 2000;

struct Pending {
    QByteArray path;  // UTF-8, as stored
    QByteArray name;
    QByteArray category;
    QByteArray description;
    bool unreadable = false;
};

class Import {
public:
    Import(const QString& cataloguePath, ImportProgress& progress)
        : connection_(
              store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX)),
          progress_(progress) {
        sqlite3_busy_timeout(connection_.handle(), kImportBusyTimeoutMs);
        loadKnownPaths();
    }

    void run(const QStringList& paths, ImportResult& result) {
        WalkCounts counts;
        sinceFlush_.start();
        const bool complete = walkSoundFiles(
            paths, counts, [&](const QByteArray& path) { return take(path, result); },
            &progress_.cancel);
        flush(result);
        result.cancelled = !complete || progress_.cancel.load();
        result.unreadableFolders = counts.unreadableFolders;
        result.vanished += counts.vanished;
        result.missingPaths = counts.missingRoots;
    }

private:
    void loadKnownPaths() {
        store::Statement rows(connection_,
                              QByteArrayLiteral("select ID, FilePath from SoundData where ID > ?"));
        rows.bindInt64(1, lastSeenId_);
        while (rows.step()) {
            int bytes = 0;
            const char* text = rows.text(1, bytes);
            known_.emplace(text, static_cast<size_t>(bytes));
            lastSeenId_ = std::max(lastSeenId_, rows.int64(0));
        }
    }

    bool take(const QByteArray& path, ImportResult& result) {
        ++result.found;
        progress_.found.store(result.found, std::memory_order_relaxed);
        // Stored texts are UTF-8: a name in another encoding could not be stored as it is spelled.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        const QString text = utf8(path);
        if (utf8.hasError()) {
            ++result.unstorableNames;
        } else if (known_.count(std::string(path.constData(), size_t(path.size())))) {
            ++result.skipped;
            progress_.skipped.store(result.skipped, std::memory_order_relaxed);
        } else {
            const SoundInfo info = readSoundInfo(path);
            if (info.status == SoundInfo::Status::Missing) {
                ++result.vanished;
            } else {
                const QFileInfo file(text);
                Pending entry;
                entry.path = path;
                entry.name = (info.title.isEmpty() ? file.completeBaseName() : info.title).toUtf8();
                entry.category = QFileInfo(file.path()).fileName().toUtf8();
                QString description = info.description;
                if (!info.summary.isEmpty())
                    description +=
                        (description.isEmpty() ? QString() : QStringLiteral(" | ")) + info.summary;
                entry.description = description.toUtf8();
                entry.unreadable = info.status == SoundInfo::Status::Unreadable;
                pending_.push_back(std::move(entry));
            }
        }
        if (pending_.size() >= size_t(kImportBatchSize) ||
            (!pending_.empty() && sinceFlush_.elapsed() >= kBatchMaxMs))
            flush(result);
        return !progress_.cancel.load(std::memory_order_relaxed);
    }

    // Stores the pending entries in one transaction.
    void flush(ImportResult& result) {
        sinceFlush_.restart();
        if (pending_.empty()) return;
        // The write lock is taken first, so that what another program added
        // since the last batch is seen before deciding what to skip.
        connection_.exec("BEGIN IMMEDIATE");
        try {
            loadKnownPaths();
            if (!insert_)
                insert_.emplace(connection_, QByteArrayLiteral(
                                                 "insert into SoundData (NameData, FilePath, "
                                                 "Category, DescriptionData) values (?, ?, ?, ?)"));
            qint64 added = 0;
            qint64 unreadable = 0;
            for (const Pending& entry : pending_) {
                std::string key(entry.path.constData(), size_t(entry.path.size()));
                if (!known_.insert(std::move(key)).second) {
                    ++result.skipped;
                    continue;
                }
                insert_->reset();
                insert_->bindText(1, entry.name);
                insert_->bindText(2, entry.path);
                insert_->bindText(3, entry.category);
                insert_->bindText(4, entry.description);
                insert_->step();
                ++added;
                if (entry.unreadable) ++unreadable;
            }
            insert_->reset();
            lastSeenId_ = std::max(lastSeenId_, sqlite3_last_insert_rowid(connection_.handle()));
            connection_.exec("COMMIT");
            result.added += added;
            result.unreadable += unreadable;
        } catch (...) {
            if (insert_) insert_->reset();
            // Rolls back unless the engine already did; either way nothing of the batch stays.
            sqlite3_exec(connection_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
            pending_.clear();
            throw;
        }
        pending_.clear();
        progress_.added.store(result.added, std::memory_order_relaxed);
        progress_.skipped.store(result.skipped, std::memory_order_relaxed);
        progress_.unreadable.store(result.unreadable, std::memory_order_relaxed);
    }

    store::Connection connection_;
    ImportProgress& progress_;
    std::unordered_set<std::string> known_;
    qint64 lastSeenId_ = std::numeric_limits<qint64>::min();
    std::vector<Pending> pending_;
    std::optional<store::Statement> insert_;
    QElapsedTimer sinceFlush_;
};

}  // namespace

ImportResult importPaths(const QString& cataloguePath, const QStringList& paths,
                         ImportProgress& progress) {
    ImportResult result;
    try {
        Import import(cataloguePath, progress);
        import.run(paths, result);
    } catch (const store::DbError& error) {
        result.failure = error;
    }
    return result;
}

void createCatalogueIfMissing(const QString& path) {
    store::Catalogue catalogue = store::Catalogue::forFile(path);
    catalogue.begin();
    catalogue.end();
}

QString importSummary(const ImportResult& result) {
    QString text = QStringLiteral(
                       "Added %1 sound files. Skipped %2 already in the catalogue, %3 "
                       "not readable.")
                       .arg(result.added)
                       .arg(result.skipped)
                       .arg(result.unreadable);
    QStringList notTaken;
    if (result.missingPaths)
        notTaken << QStringLiteral("%1 of the paths given do not exist").arg(result.missingPaths);
    if (result.unreadableFolders)
        notTaken << QStringLiteral("%1 folders could not be read").arg(result.unreadableFolders);
    if (result.vanished)
        notTaken << QStringLiteral("%1 files disappeared before they could be read")
                        .arg(result.vanished);
    if (result.unstorableNames)
        notTaken << QStringLiteral("%1 files have names that are not valid UTF-8 and were left out")
                        .arg(result.unstorableNames);
    if (!notTaken.isEmpty())
        text += QLatin1Char(' ') + notTaken.join(QStringLiteral("; ")) + QLatin1Char('.');
    return text;
}

}  // namespace kalvero::importer
