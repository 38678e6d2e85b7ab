#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QByteArrayView>
#include <QStringList>
#include <atomic>
#include <functional>

namespace kalvero::importer {

// Whether a file name ends in one of the sound file extensions, case ignored.
bool isSoundFileName(QByteArrayView name);

// What a walk met besides the sound files it handed on.
struct WalkCounts {
    // Folders that could not be listed (no permission, an I/O error).
    qint64 unreadableFolders = 0;
    // Files and folders that were listed but gone when looked at.
    qint64 vanished = 0;
    // Links that lead nowhere: to nothing, into a loop of links, or where
    // the walk may not look.
    qint64 brokenLinks = 0;
    // Paths given to the walk that do not exist.
    qint64 missingRoots = 0;
    // Paths given to the walk that are neither a folder nor a file with a
    // sound file name, as the walk spelled them (absolute).
    QStringList notSoundRoots;
};

// A path as an import stores it: made absolute against the working folder
// and cleaned ("." and ".." resolved, repeated and trailing slashes dropped),
// links kept as the user named them, in the file system's encoding.
QByteArray storedPathOf(const QString& path);

// Walks folders and files for sound files. Folders are walked recursively
// in name order; names with a leading dot are skipped below the given paths;
// a folder is walked at most once however many links lead to it, so no link
// loop can hang the walk. A link whose target lies in what the walk reaches
// through the given paths themselves is not followed: that folder or file is
// taken once, under its real path. Links leading elsewhere are followed.
// Only regular files (or links to them) are taken.
// `onFile` gets each sound file's absolute path as the file system spells
// it (the given path made absolute and cleaned, links not resolved) and
// returns false to stop the walk. `stop` is also checked between folders.
// Returns false when stopped.
bool walkSoundFiles(const QStringList& paths, WalkCounts& counts,
                    const std::function<bool(const QByteArray& path)>& onFile,
                    const std::atomic<bool>* stop = nullptr);

// The same walk, with each file's stat (links followed): looked up in the
// file's folder, so that asking for it costs less than a stat by path.
bool walkSoundFilesWithStat(
    const QStringList& paths, WalkCounts& counts,
    const std::function<bool(const QByteArray& path, const struct stat& st)>& onFile,
    const std::atomic<bool>* stop = nullptr);

}  // namespace kalvero::importer
