#include "reconcile/catalogueanalysis.h"

#include "store/catalogue.h"
#include "store/transaction.h"

#include <sys/stat.h>

#include <QElapsedTimer>
#include <QFile>
#include <chrono>
#include <thread>

namespace kalvero::reconcile {

namespace {

// A kill loses at most this much work: so many files, or so many seconds of
// analysis, whichever comes first.
constexpr int kBatchFiles = 50;
constexpr qint64 kBatchMs = 2000;

struct Candidate {
    qint64 id = 0;
    QString path;
};

struct Stored {
    qint64 id = 0;
    QByteArray path;
    bool analysed = false;
    qint64 size = 0;
    qint64 modifiedNs = 0;
};

QList<Stored> readEntries(const store::Connection& connection) {
    const bool facts = store::hasFactsTable(connection);
    QList<Stored> entries;
    store::Statement rows(connection,
                          facts ? QByteArrayLiteral("select S.ID, S.FilePath, F.AnalysedSize, "
                                                    "F.AnalysedModified from SoundData S left join "
                                                    "SoundFacts F on F.ID = S.ID order by S.ID")
                                : QByteArrayLiteral("select ID, FilePath, NULL, NULL from "
                                                    "SoundData order by ID"));
    while (rows.step()) {
        Stored entry{rows.int64(0), rows.textBytes(1)};
        entry.analysed = !rows.isNull(2) && !rows.isNull(3);
        entry.size = rows.int64(2);
        entry.modifiedNs = rows.int64(3);
        entries << entry;
    }
    return entries;
}

bool allFactColumns(const store::Connection& connection) {
    for (int i = 0; i < store::kFactCount; ++i) {
        if (!store::hasFactColumn(connection, store::Fact(i))) return false;
    }
    return true;
}

// Waits out another program's lock as the bulk tools do, but gives up at
// once when the run is cancelled: a window closing never waits a minute.
int waitUnlessCancelled(void* cancel, int attempts) {
    constexpr int kPollMs = 20;
    if (static_cast<const std::atomic<bool>*>(cancel)->load() ||
        attempts * kPollMs >= store::kBulkBusyTimeoutMs)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    return 1;
}

}  // namespace

void storeAnalysisBatch(store::Connection& connection, const AnalysisBatch& batch) {
    store::Transaction transaction(connection);
    store::FactsUpdater updater(connection, analysisFacts());
    for (const auto& [id, analysis] : batch) updater.write(id, analysisFactValues(analysis));
    transaction.commit();
}

QList<store::Fact> analysisFacts() {
    using store::Fact;
    return {Fact::AudioHash,  Fact::Loudness,     Fact::LoudnessRange,
            Fact::SamplePeak, Fact::AnalysedSize, Fact::AnalysedModified};
}

store::FactValues analysisFactValues(const AudioAnalysis& analysis) {
    using store::Fact;
    store::FactValues facts;
    facts[Fact::AudioHash] = QString::fromLatin1(analysis.audioHash.toHex());
    facts[Fact::Loudness] = loudnessNumber(analysis.integratedLufs);
    facts[Fact::LoudnessRange] = loudnessRangeNumber(analysis.loudnessRangeLu);
    facts[Fact::SamplePeak] = peakNumber(analysis.samplePeak);
    facts[Fact::AnalysedSize] = QString::number(analysis.fileSize);
    facts[Fact::AnalysedModified] = QString::number(analysis.modifiedNs);
    return facts;
}

QString shownFact(store::Fact fact, const QString& stored) {
    bool number = false;
    const double measure = stored.toDouble(&number);
    if (!number) return stored;
    switch (fact) {
        case store::Fact::Loudness:
            return formatLoudness(measure);
        case store::Fact::LoudnessRange:
            return formatLoudnessRange(measure);
        case store::Fact::SamplePeak:
            return formatPeakDbfs(measure);
        default:
            return stored;
    }
}

CatalogueAnalysisResult analyseCatalogue(const QString& cataloguePath, bool all,
                                         AnalysisProgress& progress) {
    std::optional<store::Connection> writer;
    return analyseCatalogue(cataloguePath, all, progress, [&](const AnalysisBatch& batch) {
        if (!writer) {
            writer = store::openCatalogueFile(cataloguePath,
                                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
            sqlite3_busy_timeout(writer->handle(), store::kBulkBusyTimeoutMs);
        }
        storeAnalysisBatch(*writer, batch);
        return true;
    });
}

CatalogueAnalysisResult analyseCatalogue(const QString& cataloguePath, bool all,
                                         AnalysisProgress& progress,
                                         const AnalysisBatchStore& store) {
    CatalogueAnalysisResult result;
    try {
        store::Connection connection =
            store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
        sqlite3_busy_handler(connection.handle(), waitUnlessCancelled, &progress.cancel);
        // Only when the table lacks a column is anything written before the
        // results: a window holding the entries it read keeps them then.
        if (!store::hasFactsTable(connection) || !allFactColumns(connection)) {
            store::Transaction transaction(connection);
            store::ensureFactsColumns(connection);
            transaction.commit();
        }

        // Every file is looked at first, so that the progress knows how much is left.
        QList<Candidate> toAnalyse;
        for (const Stored& entry : readEntries(connection)) {
            if (progress.cancel.load(std::memory_order_relaxed)) {
                result.cancelled = true;
                return result;
            }
            const QString path = QString::fromUtf8(entry.path);
            struct stat info {};
            if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0 ||
                !S_ISREG(info.st_mode)) {
                ++result.noFile;
                continue;
            }
            const qint64 modifiedNs =
                qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
            if (!all && entry.analysed && entry.size == qint64(info.st_size) &&
                entry.modifiedNs == modifiedNs) {
                ++result.unchanged;
                continue;
            }
            toAnalyse.append({entry.id, path});
        }
        progress.toAnalyse = toAnalyse.size();

        // The reading connection holds no lock while files are analysed.
        connection.close();

        AnalysisBatch batch;
        const auto storeHeld = [&] {
            if (batch.isEmpty()) return true;
            if (!store(batch)) {
                result.cancelled = true;
                return false;
            }
            result.analysed += batch.size();
            batch.clear();
            return true;
        };
        QElapsedTimer sinceCommit;
        sinceCommit.start();
        for (const Candidate& candidate : toAnalyse) {
            if (progress.cancel.load()) {
                result.cancelled = true;
                break;
            }
            QString reason;
            if (auto analysis = analyseSoundFile(candidate.path, &reason, &progress.cancel)) {
                batch.append({candidate.id, *analysis});
            } else if (progress.cancel.load()) {
                result.cancelled = true;
                break;
            } else {
                result.failed.append({candidate.path, reason});
            }
            ++progress.done;
            if (batch.size() >= kBatchFiles || sinceCommit.elapsed() >= kBatchMs) {
                if (!storeHeld()) return result;
                sinceCommit.restart();
            }
        }
        // What was analysed before a Ctrl+C is kept as well.
        storeHeld();
    } catch (const store::DbError& error) {
        result.failure = error;
    }
    return result;
}

}  // namespace kalvero::reconcile
