#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace kalvero::reconcile {

// A folder as relinking compares it: the UTF-8 bytes as given, without
// trailing slashes (the root stays "/").
QByteArray folderKey(const QString& folder);

// `path` moved from `oldFolder` to `newFolder` (both as folderKey gives them),
// or nothing when the path does not lie in `oldFolder`. The comparison is
// byte for byte and on a folder boundary: "/a/b" holds "/a/b" and "/a/b/c",
// not "/a/bc" nor "/A/B".
std::optional<QByteArray> relinkedPath(const QByteArray& path, const QByteArray& oldFolder,
                                       const QByteArray& newFolder);

struct RelinkResult {
    // Entries whose path was rewritten (or would be, on a dry run).
    qint64 changed = 0;
    // How many of their new paths name a file that exists.
    qint64 existing = 0;
};

// Rewrites the start of FilePath for every entry under `oldFolder`, in one
// transaction with bound values: all entries or none. A dry run changes
// nothing and reports what would change. Throws store::DbError on failure.
RelinkResult relinkEntries(const QString& cataloguePath, const QString& oldFolder,
                           const QString& newFolder, bool dryRun);

}  // namespace kalvero::reconcile
