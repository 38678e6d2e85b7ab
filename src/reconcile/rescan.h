#pragma once

#include "importer/folderimport.h"
#include "store/sqlitehandle.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

namespace kalvero::reconcile {

// Bringing the catalogue in step with folders that changed since they were
// imported: new sound files are imported, files whose size or modification
// time changed have their facts read again, and files that went away are
// counted and named, never removed (kalvero-cli prune removes them).

// Read by another thread while a rescan runs.
struct RescanProgress {
    // Sound files met by the walk so far.
    std::atomic<qint64> found{0};
    // Entries added, and entries whose facts were read again, so far.
    std::atomic<qint64> added{0};
    std::atomic<qint64> changed{0};
    // Set from outside: stop once the current batch is stored.
    std::atomic<bool> cancel{false};
};

// An entry whose file was not found by the rescan.
struct GoneEntry {
    qint64 id = 0;
    QString path;
};

struct RescanResult {
    // The folders rescanned, as the catalogue stores paths.
    QList<QByteArray> folders;
    // Sound files the walk found.
    qint64 found = 0;
    // Entries that name them and whose file is as it was: nothing read.
    qint64 unchanged = 0;
    // Entries whose facts were read again because the file's size or
    // modification time changed; their four texts stay as they were.
    qint64 changed = 0;
    // Changed files that could no longer be read: their facts stay.
    qint64 unreadableChanged = 0;
    // What importing the new files did (added, unreadable, ...).
    importer::ImportResult import;
    // Entries under the folders whose file is gone, in ID order; kept.
    QList<GoneEntry> gone;
    // Entries whose file is not found on a removable drive that is not
    // connected: not gone, and kept as they are. The drives, in name order.
    qint64 offline = 0;
    QList<QByteArray> offlineDrives;
    // Folders more than half of whose entries' files are gone: a disk or
    // share that looks unplugged. When there is any, the rescan changed
    // nothing at all.
    QList<QByteArray> unplugged;
    bool cancelled = false;
    // The catalogue failed; the batches stored before are whole.
    std::optional<store::DbError> failure;
};

// How many gone entries kalvero-cli rescan names; the rest are only counted.
inline constexpr int kListedGoneEntries = 1000;

// The folders a rescan without folders takes: those that hold entries' files,
// each only once, none inside another. Entries right under "/" and paths that
// are not absolute (typed by hand, or from a CSV file) make no folder: one of
// them must not make a rescan walk the whole disk. Throws store::DbError
// when the catalogue cannot be read.
QList<QByteArray> entryFolders(const QString& cataloguePath);

// Rescans `folders` (every folder that holds entries when empty) for the
// catalogue at `cataloguePath`. On a connection of its own, in batches each
// stored whole; safe to run on any thread. A folder with nothing changed
// costs its walk and one read of the catalogue: no file is opened. An entry
// with no facts of its file (added by hand or from a CSV file) whose file is
// there counts as unchanged. A folder looks unplugged by the rule prune uses
// (more than half of the entries under one Volumes::topFolder gone), counted
// over the entries this rescan looks at.
RescanResult rescanFolders(const QString& cataloguePath, const QStringList& folders,
                           RescanProgress& progress);

// "Added N new sound files. Read again M changed files. K files are gone
// (kept in the catalogue)." with what could not be taken, or why nothing
// was changed.
QString rescanSummary(const RescanResult& result);

}  // namespace kalvero::reconcile
