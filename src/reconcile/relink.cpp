#include "reconcile/relink.h"

#include "reconcile/missingfiles.h"
#include "store/catalogue.h"
#include "store/transaction.h"

#include <utility>
#include <vector>

namespace kalvero::reconcile {

QByteArray folderKey(const QString& folder) {
    QByteArray key = folder.toUtf8();
    while (key.size() > 1 && key.endsWith('/')) key.chop(1);
    return key;
}

std::optional<QByteArray> relinkedPath(const QByteArray& path, const QByteArray& oldFolder,
                                       const QByteArray& newFolder) {
    if (oldFolder.isEmpty()) return std::nullopt;
    QByteArray rest;
    if (oldFolder == "/") {
        if (!path.startsWith('/')) return std::nullopt;
        rest = path.mid(1);
    } else if (path == oldFolder) {
        rest.clear();
    } else if (path.size() > oldFolder.size() && path.startsWith(oldFolder) &&
               path.at(oldFolder.size()) == '/') {
        rest = path.mid(oldFolder.size() + 1);
    } else {
        return std::nullopt;
    }
    if (rest.isEmpty()) return newFolder;
    return newFolder.endsWith('/') ? newFolder + rest : newFolder + '/' + rest;
}

RelinkResult relinkEntries(const QString& cataloguePath, const QString& oldFolder,
                           const QString& newFolder, bool dryRun) {
    const QByteArray from = folderKey(oldFolder);
    const QByteArray to = folderKey(newFolder);
    store::Connection connection = store::openCatalogueFile(
        cataloguePath,
        (dryRun ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE) | SQLITE_OPEN_NOMUTEX);
    sqlite3_busy_timeout(connection.handle(), store::kBulkBusyTimeoutMs);

    // The paths are read and written under one write lock, so no entry
    // changes between the two; the comparison is ours, byte for byte, never
    // the column's case-blind collation.
    std::vector<std::pair<qint64, QByteArray>> moves;
    auto collect = [&] {
        store::Statement rows(connection, QByteArrayLiteral("select ID, FilePath from SoundData"));
        while (rows.step()) {
            if (auto moved = relinkedPath(rows.textBytes(1), from, to))
                moves.emplace_back(rows.int64(0), std::move(*moved));
        }
    };
    if (dryRun) {
        collect();
    } else {
        store::Transaction transaction(connection);
        collect();
        store::Statement update(
            connection, QByteArrayLiteral("update SoundData set FilePath = ?1 where ID = ?2"));
        for (const auto& [id, path] : moves) {
            update.bindText(1, path);
            update.bindInt64(2, id);
            update.step();
            update.reset();
        }
        transaction.commit();
    }
    connection.close();

    // Looked at after the lock is given up: a slow share holds up nobody else.
    RelinkResult result;
    result.changed = static_cast<qint64>(moves.size());
    for (const auto& move : moves)
        if (!isSoundFileMissing(QString::fromUtf8(move.second))) ++result.existing;
    return result;
}

}  // namespace kalvero::reconcile
