#include "reconcile/relinkfind.h"

#include "importer/soundwalk.h"
#include "reconcile/missingfiles.h"
#include "store/catalogue.h"
#include "store/facts.h"
#include "store/transaction.h"

#include <sys/stat.h>

#include <QFile>
#include <QHash>
#include <algorithm>
#include <optional>
#include <vector>

namespace kalvero::reconcile {

namespace {

// A missing entry with what its file is recognised by.
struct Sought {
    qint64 id = 0;
    QByteArray path;
    QByteArray hash;  // hex, lower case
    qint64 size = 0;
    // Matching files no other entry names.
    QList<QByteArray> candidates;
    // The first matching file another entry names, and that entry.
    std::optional<std::pair<QByteArray, qint64>> taken;
};

struct Analysed {
    QByteArray hash;
    qint64 size = 0;
};

// The stored hash and the size it was measured from (the import's size when
// an older analysis kept none), for every entry that has a hash.
QHash<qint64, Analysed> readAnalyses(const store::Connection& connection) {
    QHash<qint64, Analysed> analyses;
    if (!store::hasFactColumn(connection, store::Fact::AudioHash)) return analyses;
    auto column = [&connection](store::Fact fact) {
        return store::hasFactColumn(connection, fact) ? "F." + QByteArray(store::factName(fact))
                                                      : QByteArray("NULL");
    };
    store::Statement rows(connection, "select S.ID, F.AudioHash, " +
                                          column(store::Fact::AnalysedSize) + ", " +
                                          column(store::Fact::FileSize) +
                                          " from SoundData S join SoundFacts F on F.ID = S.ID "
                                          "where F.AudioHash is not null and F.AudioHash <> ''");
    while (rows.step()) {
        const int sizeColumn = rows.isNull(2) ? 3 : 2;
        if (rows.isNull(sizeColumn)) continue;
        analyses.insert(rows.int64(0),
                        {rows.textBytes(1).trimmed().toLower(), rows.int64(sizeColumn)});
    }
    return analyses;
}

// Every path an entry names, with the first entry (by ID) naming it. The
// comparison is ours, byte for byte, never the column's case-blind collation.
QHash<QByteArray, qint64> namedPaths(const store::Connection& connection) {
    QHash<QByteArray, qint64> named;
    store::Statement rows(connection,
                          QByteArrayLiteral("select ID, FilePath from SoundData order by ID"));
    while (rows.step()) {
        const QByteArray path = rows.textBytes(1);
        if (!path.isEmpty() && !named.contains(path)) named.insert(path, rows.int64(0));
    }
    return named;
}

}  // namespace

RelinkFindResult relinkByContent(const QString& cataloguePath, const QString& folder, bool dryRun,
                                 RelinkFindProgress& progress, const Volumes& volumes) {
    RelinkFindResult result;
    MissingReport report = findMissingEntries(cataloguePath, volumes);
    result.offline = report.offline.size();

    std::vector<Sought> sought;
    QHash<QByteArray, qint64> named;
    {
        store::Connection connection =
            store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READONLY);
        sqlite3_busy_timeout(connection.handle(), store::kBulkBusyTimeoutMs);
        const QHash<qint64, Analysed> analyses = readAnalyses(connection);
        named = namedPaths(connection);
        for (const MissingEntry& entry : report.missing) {
            // An entry with no path names no file that could have gone anywhere.
            if (entry.storedPath.isEmpty()) continue;
            const auto analysis = analyses.constFind(entry.id);
            if (analysis == analyses.cend()) {
                ++result.unanalysed;
                continue;
            }
            sought.push_back({entry.id, entry.storedPath, analysis->hash, analysis->size, {}, {}});
        }
    }
    result.sought = qint64(sought.size());
    if (sought.empty()) return result;

    QHash<qint64, QList<qsizetype>> soughtBySize;
    for (qsizetype i = 0; i < qsizetype(sought.size()); ++i)
        soughtBySize[sought[size_t(i)].size].append(i);

    // The walk is cheap next to decoding: only a file of a size some missing
    // entry had can be its file, so only those are decoded.
    QList<QByteArray> toDecode;
    importer::WalkCounts counts;
    importer::walkSoundFiles(
        {folder}, counts,
        [&](const QByteArray& path) {
            ++progress.walked;
            struct stat info {};
            if (::stat(path.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
                soughtBySize.contains(qint64(info.st_size)))
                toDecode.append(path);
            return !progress.cancel.load();
        },
        &progress.cancel);
    result.walked = progress.walked.load();
    result.unreadableFolders = counts.unreadableFolders;
    progress.toDecode = toDecode.size();

    // Which sought entries each file matched.
    QHash<QByteArray, QList<qsizetype>> claimants;
    for (const QByteArray& path : toDecode) {
        if (progress.cancel.load()) break;
        QString reason;
        const std::optional<AudioAnalysis> analysis =
            analyseSoundFile(QFile::decodeName(path), &reason);
        ++progress.decoded;
        if (!analysis) {
            result.unreadable.append({QFile::decodeName(path), reason});
            continue;
        }
        const QByteArray hash = analysis->audioHash.toHex();
        for (qsizetype i : soughtBySize.value(analysis->fileSize)) {
            Sought& entry = sought[size_t(i)];
            if (entry.hash != hash) continue;
            if (const auto other = named.constFind(path); other != named.cend()) {
                if (!entry.taken) entry.taken = {path, other.value()};
                continue;
            }
            entry.candidates.append(path);
            claimants[path].append(i);
        }
    }
    result.decoded = progress.decoded.load();
    if (progress.cancel.load()) {
        result.cancelled = true;
        return result;
    }

    // Only a match that is one to one moves an entry.
    for (const Sought& entry : sought) {
        if (entry.candidates.isEmpty()) {
            if (entry.taken)
                result.taken.append(
                    {entry.id, entry.path, entry.taken->first, entry.taken->second});
            else
                ++result.notFound;
        } else if (entry.candidates.size() == 1 &&
                   claimants.value(entry.candidates.constFirst()).size() == 1) {
            result.moved.append({entry.id, entry.path, entry.candidates.constFirst()});
        } else {
            result.ambiguous.append({entry.id, entry.path, entry.candidates});
        }
    }
    if (dryRun || result.moved.isEmpty()) return result;

    store::Connection connection =
        store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    sqlite3_busy_timeout(connection.handle(), store::kBulkBusyTimeoutMs);
    store::Transaction transaction(connection);
    // Files were read with no lock held: another program may have added an
    // entry for a found file, or changed an entry, since. Both are seen here,
    // under the write lock, and win.
    named = namedPaths(connection);
    store::Statement update(connection,
                            QByteArrayLiteral("update SoundData set FilePath = ?1 where ID = ?2 "
                                              "and FilePath = ?3 collate binary"));
    QList<FoundFile> moved;
    for (FoundFile& found : result.moved) {
        if (const auto other = named.constFind(found.newPath); other != named.cend()) {
            result.taken.append({found.id, found.path, found.newPath, other.value()});
            continue;
        }
        update.bindText(1, found.newPath);
        update.bindInt64(2, found.id);
        update.bindText(3, found.path);
        update.step();
        update.reset();
        if (sqlite3_changes(connection.handle()) == 1)
            moved.append(std::move(found));
        else
            ++result.changedSince;
    }
    transaction.commit();
    result.moved = std::move(moved);
    std::sort(result.taken.begin(), result.taken.end(),
              [](const TakenMatch& a, const TakenMatch& b) { return a.id < b.id; });
    return result;
}

}  // namespace kalvero::reconcile
