#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <optional>

namespace kalvero::reconcile {

// A folder as relinking compares it: made absolute and clean exactly as an
// import makes the paths it stores (the root stays "/"), so that a folder
// named relative to the working folder finds what its import stored.
QByteArray folderKey(const QString& folder);

// `path` moved from `oldFolder` to `newFolder` (both as folderKey gives them),
// or nothing when the path does not lie in `oldFolder`. The comparison is
// byte for byte and on a folder boundary: "/a/b" holds "/a/b" and "/a/b/c",
// not "/a/bc" nor "/A/B".
std::optional<QByteArray> relinkedPath(const QByteArray& path, const QByteArray& oldFolder,
                                       const QByteArray& newFolder);

// An entry under the old folder that stays where it is, because its new path
// is one another entry names, and would still name after the relink.
struct RelinkClash {
    qint64 id = 0;
    QByteArray path;
    QByteArray newPath;
    // The entry that names the new path.
    qint64 otherId = 0;
};

struct RelinkResult {
    // Entries whose path was rewritten (or would be, on a dry run).
    qint64 changed = 0;
    // How many of their new paths name a file that exists.
    qint64 existing = 0;
    // Entries under the old folder left unchanged, in ID order.
    QList<RelinkClash> clashes;
};

// Rewrites the start of FilePath for every entry under `oldFolder`, in one
// transaction with bound values: all entries or none. An entry whose new path
// another entry names is left as it is, so no two entries come to name one
// file. A dry run changes nothing and reports what would change. Throws
// store::DbError on failure.
RelinkResult relinkEntries(const QString& cataloguePath, const QString& oldFolder,
                           const QString& newFolder, bool dryRun);

}  // namespace kalvero::reconcile
