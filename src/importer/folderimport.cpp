#include "importer/folderimport.h"

#include "importer/soundinfo.h"
#include "importer/soundwalk.h"
#include "store/catalogue.h"
#include "store/facts.h"
#include "store/transaction.h"

#include <QElapsedTimer>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_set>
#include <vector>

namespace kalvero::importer {

namespace {

// A batch is stored after this long even when it is not full, so that a slow
// disk still shows progress and a cancel never waits for thousands of files.
constexpr qint64 kBatchMaxMs = 2000;

struct Pending {
    QByteArray path;  // UTF-8, as stored
    QByteArray name;
    QByteArray category;
    QByteArray description;
    store::FactValues facts;
};
using Batch = std::vector<Pending>;

// Stores batches on a thread of its own, so that reading the next files goes
// on while one batch is written. One batch waits at most: memory stays bounded.
class Writer {
public:
    Writer(store::Connection& connection, qint64 lastSeenId, ImportProgress& progress)
        : connection_(connection), lastSeenId_(lastSeenId), progress_(progress) {
        thread_ = std::thread([this] { loop(); });
    }
    ~Writer() { finish(); }

    // Hands a batch over; false once storing has failed.
    bool submit(Batch batch) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !next_ || failure_; });
        if (failure_) return false;
        next_ = std::move(batch);
        changed_.notify_all();
        return true;
    }

    // Stores what was handed over and ends the thread.
    void finish() {
        {
            std::lock_guard lock(mutex_);
            closing_ = true;
            changed_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
    }

    const std::optional<store::DbError>& failure() const { return failure_; }

private:
    void loop() {
        for (;;) {
            Batch batch;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [this] { return next_ || closing_; });
                if (!next_) return;
                batch = std::move(*next_);
            }
            std::optional<store::DbError> failed;
            try {
                store(batch);
            } catch (const store::DbError& error) {
                failed = error;
            }
            std::lock_guard lock(mutex_);
            next_.reset();
            if (failed) failure_ = failed;
            changed_.notify_all();
            if (failure_) return;
        }
    }

    // Stores one batch in one transaction.
    void store(const Batch& batch) {
        // The write lock is taken first, so that what another program added
        // since the last batch is seen before deciding what to skip.
        store::Transaction transaction(connection_);
        try {
            store::Statement others(
                connection_, QByteArrayLiteral("select ID, FilePath from SoundData where ID > ?"));
            others.bindInt64(1, lastSeenId_);
            while (others.step()) {
                storedByOthers_.insert(others.textBytes(1).toStdString());
                lastSeenId_ = std::max(lastSeenId_, others.int64(0));
            }
            if (!insert_)
                insert_.emplace(connection_, QByteArrayLiteral(
                                                 "insert into SoundData (NameData, FilePath, "
                                                 "Category, DescriptionData) values (?, ?, ?, ?)"));
            if (!facts_) {
                store::prepareFactsTable(connection_);
                facts_.emplace(connection_);
            }
            qint64 added = 0, skipped = 0;
            for (const Pending& entry : batch) {
                if (!storedByOthers_.empty() &&
                    storedByOthers_.count(
                        std::string(entry.path.constData(), size_t(entry.path.size())))) {
                    ++skipped;
                    continue;
                }
                insert_->reset();
                insert_->bindText(1, entry.name);
                insert_->bindText(2, entry.path);
                insert_->bindText(3, entry.category);
                insert_->bindText(4, entry.description);
                insert_->step();
                facts_->write(sqlite3_last_insert_rowid(connection_.handle()), entry.facts);
                ++added;
            }
            insert_->reset();
            if (added > 0)
                lastSeenId_ =
                    std::max(lastSeenId_, sqlite3_last_insert_rowid(connection_.handle()));
            transaction.commit();
            progress_.added.fetch_add(added);
            progress_.skipped.fetch_add(skipped);
        } catch (...) {
            // The transaction rolls back: nothing of the batch stays.
            if (insert_) insert_->reset();
            facts_.reset();
            throw;
        }
    }

    store::Connection& connection_;
    qint64 lastSeenId_;
    ImportProgress& progress_;
    // Paths other programs stored while this import ran.
    std::unordered_set<std::string> storedByOthers_;
    std::optional<store::Statement> insert_;
    std::optional<store::FactsWriter> facts_;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<Batch> next_;
    bool closing_ = false;
    std::optional<store::DbError> failure_;
    std::thread thread_;
};

class Import {
public:
    Import(const QString& cataloguePath, ImportProgress& progress)
        : connection_(
              store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX)),
          progress_(progress) {
        sqlite3_busy_timeout(connection_.handle(), store::kBulkBusyTimeoutMs);
        store::Statement rows(connection_, QByteArrayLiteral("select ID, FilePath from SoundData"));
        while (rows.step()) {
            int bytes = 0;
            const char* text = rows.text(1, bytes);
            known_.emplace(text, static_cast<size_t>(bytes));
            lastSeenId_ = std::max(lastSeenId_, rows.int64(0));
        }
    }

    void run(const QStringList& paths, ImportResult& result) {
        WalkCounts counts;
        bool complete = false;
        {
            // From here on only the writer's thread uses the connection.
            Writer writer(connection_, lastSeenId_, progress_);
            writer_ = &writer;
            sinceFlush_.start();
            complete = walkSoundFiles(
                paths, counts, [&](const QByteArray& path) { return take(path, result); },
                &progress_.cancel);
            if (!pending_.empty()) writer.submit(std::move(pending_));
            writer.finish();
            writer_ = nullptr;
            result.failure = writer.failure();
        }
        result.cancelled = !result.failure && (!complete || progress_.cancel.load());
        result.added = progress_.added.load();
        result.unreadable = progress_.unreadable.load();
        result.skipped = progress_.skipped.load();
        result.unreadableFolders = counts.unreadableFolders;
        result.vanished += counts.vanished;
        result.brokenLinks = counts.brokenLinks;
        result.missingPaths = counts.missingRoots;
        result.notSoundFiles = counts.notSoundRoots;
    }

private:
    bool take(const QByteArray& path, ImportResult& result) {
        ++result.found;
        progress_.found.store(result.found, std::memory_order_relaxed);
        // Stored texts are UTF-8: a name in another encoding could not be stored as it is spelled.
        if (!path.isValidUtf8()) {
            ++result.unstorableNames;
        } else if (!known_.insert(path.toStdString()).second) {
            // In the catalogue, or reached twice in this walk; one that was
            // refused the first time is counted once.
            if (!refused_.count(path.toStdString()))
                progress_.skipped.fetch_add(1, std::memory_order_relaxed);
        } else {
            const SoundInfo info = readSoundInfo(path);
            if (info.status != SoundInfo::Status::Readable) refused_.insert(path.toStdString());
            if (info.status == SoundInfo::Status::Missing) {
                ++result.vanished;
            } else if (info.status != SoundInfo::Status::Readable) {
                // An entry for it would promise a sound that cannot be played.
                progress_.unreadable.fetch_add(1, std::memory_order_relaxed);
                if (result.unreadableFiles.size() < kListedUnreadableFiles)
                    result.unreadableFiles << QString::fromUtf8(path);
            } else {
                Pending entry;
                entry.path = path;
                const EntryTexts texts = entryTexts(path, info);
                entry.name = texts.name.toUtf8();
                entry.category = texts.category.toUtf8();
                entry.description = texts.description.toUtf8();
                entry.facts = factValues(info);
                pending_.push_back(std::move(entry));
            }
        }
        if (pending_.size() >= size_t(kImportBatchSize) ||
            (!pending_.empty() && sinceFlush_.elapsed() >= kBatchMaxMs)) {
            sinceFlush_.restart();
            Batch batch;
            batch.swap(pending_);
            pending_.reserve(size_t(kImportBatchSize));
            if (!writer_->submit(std::move(batch))) return false;
        }
        return !progress_.cancel.load(std::memory_order_relaxed);
    }

    store::Connection connection_;
    ImportProgress& progress_;
    // Paths in the catalogue when the import began, and those this import took.
    std::unordered_set<std::string> known_;
    // Those of this import's paths that were not stored: unreadable or gone.
    std::unordered_set<std::string> refused_;
    qint64 lastSeenId_ = std::numeric_limits<qint64>::min();
    Batch pending_;
    Writer* writer_ = nullptr;
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

QStringList leftOutByTheWalk(const ImportResult& result) {
    QStringList said;
    if (result.unreadableFolders)
        said << counted(result.unreadableFolders, QStringLiteral("%1 folder could not be read"),
                        QStringLiteral("%1 folders could not be read"));
    if (result.brokenLinks)
        said << counted(result.brokenLinks,
                        QStringLiteral("%1 broken link (to nothing, or in a loop) was left out"),
                        QStringLiteral("%1 broken links (to nothing, or in a loop) were left out"));
    if (result.vanished)
        said << counted(result.vanished,
                        QStringLiteral("%1 file disappeared before it could be read"),
                        QStringLiteral("%1 files disappeared before they could be read"));
    if (result.unstorableNames)
        said << counted(
            result.unstorableNames,
            QStringLiteral("%1 file has a name that is not valid UTF-8 and was left out"),
            QStringLiteral("%1 files have names that are not valid UTF-8 and were left out"));
    return said;
}

QString importSummary(const ImportResult& result) {
    QString text = counted(result.added, QStringLiteral("Added %1 sound file."),
                           QStringLiteral("Added %1 sound files.")) +
                   QStringLiteral(" Skipped %1 already in the catalogue, %2 not readable.")
                       .arg(result.skipped)
                       .arg(result.unreadable);
    QStringList notTaken;
    if (result.missingPaths)
        notTaken << counted(result.missingPaths,
                            QStringLiteral("%1 of the paths given does not exist"),
                            QStringLiteral("%1 of the paths given do not exist"));
    if (!result.notSoundFiles.isEmpty())
        notTaken << counted(result.notSoundFiles.size(),
                            QStringLiteral("%1 of the files given is not a sound file"),
                            QStringLiteral("%1 of the files given are not sound files"));
    notTaken << leftOutByTheWalk(result);
    if (!notTaken.isEmpty())
        text += QLatin1Char(' ') + notTaken.join(QStringLiteral("; ")) + QLatin1Char('.');
    return text;
}

}  // namespace kalvero::importer
