#include "reconcile/missingfiles.h"

#include "store/catalogue.h"
#include "store/transaction.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <algorithm>

namespace kalvero::reconcile {

bool isSoundFileMissing(const QString& path) {
    if (path.isEmpty()) return true;
    const QFileInfo info(path);
    return !info.exists() || info.isDir();
}

MissingReport findMissingEntries(const QString& cataloguePath, const Volumes& volumes) {
    struct Row {
        qint64 id;
        QByteArray name;
        QByteArray path;
    };
    std::vector<Row> rows;
    {
        store::Connection connection =
            store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READONLY);
        store::Statement select(
            connection,
            QByteArrayLiteral("select ID, NameData, FilePath from SoundData order by ID"));
        while (select.step())
            rows.push_back({select.int64(0), select.textBytes(1), select.textBytes(2)});
    }

    // Files are looked at after the catalogue is closed: a slow disk holds up
    // nobody else. A drive's state is asked once per scan.
    MissingReport report;
    QHash<QByteArray, qint64> entriesUnder;
    QHash<QByteArray, qint64> missingUnder;
    QHash<QByteArray, QByteArray> driveOfCandidate;
    for (Row& row : rows) {
        const QString path = QString::fromUtf8(row.path);
        const bool gone = isSoundFileMissing(path);
        QByteArray drive;
        if (gone && !row.path.isEmpty()) {
            const qsizetype slash = row.path.lastIndexOf('/');
            const QByteArray folder = slash > 0 ? row.path.left(slash) : row.path;
            auto known = driveOfCandidate.constFind(folder);
            if (known == driveOfCandidate.cend())
                known = driveOfCandidate.insert(folder, volumes.offlineDrive(row.path));
            drive = *known;
        }
        MissingEntry entry{row.id, QString::fromUtf8(row.name), path, row.path,
                           QFile::decodeName(drive)};
        if (!drive.isEmpty()) {
            report.offline.append(std::move(entry));
            continue;
        }
        const QByteArray top = volumes.topFolder(row.path);
        ++entriesUnder[top];
        if (!gone) continue;
        ++missingUnder[top];
        report.missing.append(std::move(entry));
    }
    for (auto it = missingUnder.cbegin(); it != missingUnder.cend(); ++it)
        report.folders.append({it.key(), entriesUnder.value(it.key()), it.value()});
    std::sort(report.folders.begin(), report.folders.end(),
              [](const auto& a, const auto& b) { return a.folder < b.folder; });
    return report;
}

QList<QPair<QString, qint64>> offlineDrives(const QList<MissingEntry>& offline) {
    QMap<QString, qint64> counts;
    for (const MissingEntry& entry : offline) ++counts[entry.drive];
    QList<QPair<QString, qint64>> drives;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it)
        drives.append({it.key(), it.value()});
    return drives;
}

PruneResult pruneMissingEntries(const QString& cataloguePath, bool dryRun, const Volumes& volumes) {
    MissingReport report = findMissingEntries(cataloguePath, volumes);
    PruneResult result;
    result.offline = std::move(report.offline);
    QSet<QByteArray> refused;
    for (const MissingReport::Folder& folder : report.folders) {
        // Entries with no folder to speak of (no path, a file right under
        // "/") are judged one by one.
        if (folder.folder.isEmpty() || folder.missing * 2 <= folder.entries) continue;
        refused.insert(folder.folder);
        result.unplugged.append(folder);
    }
    QList<MissingEntry> candidates;
    for (MissingEntry& entry : report.missing) {
        if (entry.storedPath.isEmpty() || refused.contains(volumes.topFolder(entry.storedPath)))
            continue;
        candidates.append(std::move(entry));
    }
    if (dryRun || candidates.isEmpty()) {
        result.removed = std::move(candidates);
        return result;
    }

    store::Connection connection =
        store::openCatalogueFile(cataloguePath, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX);
    sqlite3_busy_timeout(connection.handle(), store::kBulkBusyTimeoutMs);
    store::Transaction transaction(connection);
    // An entry relinked or changed since the scan names another file now and stays.
    store::Statement remove(connection, QByteArrayLiteral("delete from SoundData where ID = ?1 "
                                                          "and FilePath = ?2 collate binary"));
    QList<MissingEntry> removed;
    for (MissingEntry& entry : candidates) {
        remove.bindInt64(1, entry.id);
        remove.bindText(2, entry.storedPath);
        remove.step();
        remove.reset();
        if (sqlite3_changes(connection.handle()) == 1) removed.append(std::move(entry));
    }
    transaction.commit();
    result.removed = std::move(removed);
    return result;
}

}  // namespace kalvero::reconcile
