#include "reconcile/relink.h"

#include "importer/soundwalk.h"
#include "reconcile/missingfiles.h"
#include "store/catalogue.h"
#include "store/transaction.h"

#include <QFile>
#include <QHash>
#include <algorithm>
#include <utility>
#include <vector>

namespace kalvero::reconcile {

namespace {

struct Move {
    qint64 id = 0;
    QByteArray path;
    // Empty once the entry has to stay.
    std::optional<QByteArray> newPath;
};

// Keeps in place every entry whose new path an entry that stays names. An
// entry kept in place keeps its old path, which may in turn be another's new
// path, so this repeats until nothing more changes. Entries that already
// shared a path move together, as they were.
QList<RelinkClash> keepClashingInPlace(std::vector<Move>& moves,
                                       QHash<QByteArray, qint64>& staying) {
    QList<RelinkClash> clashes;
    for (bool again = true; again;) {
        again = false;
        for (Move& move : moves) {
            if (!move.newPath) continue;
            const auto other = staying.constFind(*move.newPath);
            if (other == staying.cend()) continue;
            clashes.append({move.id, move.path, *move.newPath, other.value()});
            move.newPath.reset();
            if (!staying.contains(move.path)) staying.insert(move.path, move.id);
            again = true;
        }
    }
    std::sort(clashes.begin(), clashes.end(),
              [](const RelinkClash& a, const RelinkClash& b) { return a.id < b.id; });
    return clashes;
}

}  // namespace

QByteArray folderKey(const QString& folder) { return importer::storedPathOf(folder); }

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
    RelinkResult result;
    std::vector<Move> moves;
    auto collect = [&] {
        // Paths of the entries that stay, each with the first entry naming it.
        QHash<QByteArray, qint64> staying;
        store::Statement rows(connection,
                              QByteArrayLiteral("select ID, FilePath from SoundData order by ID"));
        while (rows.step()) {
            QByteArray path = rows.textBytes(1);
            if (auto moved = relinkedPath(path, from, to))
                moves.push_back({rows.int64(0), std::move(path), std::move(moved)});
            else if (!staying.contains(path))
                staying.insert(path, rows.int64(0));
        }
        result.clashes = keepClashingInPlace(moves, staying);
    };
    if (dryRun) {
        collect();
    } else {
        store::Transaction transaction(connection);
        collect();
        store::Statement update(
            connection, QByteArrayLiteral("update SoundData set FilePath = ?1 where ID = ?2"));
        for (const Move& move : moves) {
            if (!move.newPath) continue;
            update.bindText(1, *move.newPath);
            update.bindInt64(2, move.id);
            update.step();
            update.reset();
        }
        transaction.commit();
    }
    connection.close();

    // Looked at after the lock is given up: a slow share holds up nobody else.
    for (const Move& move : moves) {
        if (!move.newPath) continue;
        ++result.changed;
        if (!isSoundFileMissing(QFile::decodeName(*move.newPath))) ++result.existing;
    }
    return result;
}

}  // namespace kalvero::reconcile
