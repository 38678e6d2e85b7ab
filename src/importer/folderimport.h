#pragma once

#include "importer/counted.h"

#include "store/sqlitehandle.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

namespace kalvero::importer {

// Counts of a running import, read by another thread for its progress display.
struct ImportProgress {
    std::atomic<qint64> found{0};
    std::atomic<qint64> added{0};
    std::atomic<qint64> skipped{0};
    std::atomic<qint64> unreadable{0};
    // Asks the import to stop once the current batch is stored.
    std::atomic<bool> cancel{false};
};

struct ImportResult {
    // Sound files found by the walk.
    qint64 found = 0;
    // Entries stored.
    qint64 added = 0;
    // Files whose exact path the catalogue already held.
    qint64 skipped = 0;
    // Files libsndfile could not read (no sound, or damaged): not stored.
    qint64 unreadable = 0;
    // The first kListedUnreadableFiles of them, for naming; the rest are only counted.
    QStringList unreadableFiles;
    // Folders that could not be listed.
    qint64 unreadableFolders = 0;
    // Files gone before they were read: not stored.
    qint64 vanished = 0;
    // Links to nothing or into a loop of links: not followed.
    qint64 brokenLinks = 0;
    // Names that are not valid UTF-8 cannot be stored as the file system spells them: not stored.
    qint64 unstorableNames = 0;
    // Paths given that do not exist.
    qint64 missingPaths = 0;
    // Files given by name that are not sound files (no sound file extension): not stored.
    QStringList notSoundFiles;
    bool cancelled = false;
    // Set when the catalogue failed; the batches stored before are whole.
    std::optional<store::DbError> failure;
};

// How many unreadable files an import names; a tree of broken files costs no more than this.
inline constexpr int kListedUnreadableFiles = 1000;

// Entries go in by transactions of this many.
inline constexpr int kImportBatchSize = 2000;

// Imports the sound files in `paths` (folders walked recursively, files as
// named) into the catalogue file at `cataloguePath`, which must exist. Runs
// on a connection of its own, in batches each stored whole; a path the
// catalogue holds already (compared exactly, letter case counted) is skipped.
// Another program's lock is waited for. Safe to run on any thread.
ImportResult importPaths(const QString& cataloguePath, const QStringList& paths,
                         ImportProgress& progress);

// Makes the catalogue file at `path` exactly as the program makes it on its
// first start, when it is missing (or was left half made). Throws DbError.
void createCatalogueIfMissing(const QString& path);

// "Added N sound files. Skipped M already in the catalogue, K not readable."
// and, when there were any, the folders and files that could not be taken.
QString importSummary(const ImportResult& result);
// What the walk left out (folders not read, broken links, files gone before
// they were read, names not valid UTF-8), worded for a summary.
QStringList leftOutByTheWalk(const ImportResult& result);

}  // namespace kalvero::importer
