#pragma once

#include "reconcile/drives.h"

#include <QByteArray>
#include <QList>
#include <QString>

namespace kalvero::reconcile {

// Whether an entry's file is gone: nothing at the path, or a folder where a
// sound file should be. An empty path names no file and counts as missing.
// It may block for as long as the file system takes to answer (a network
// share that went away), so windows ask it off their own thread.
bool isSoundFileMissing(const QString& path);

struct MissingEntry {
    qint64 id = 0;
    QString name;
    QString path;
    // The path as the catalogue stores it.
    QByteArray storedPath;
    // For an entry on a drive that is not connected: the drive's folder.
    QString drive;
};

// An entry's file that cannot be found is "missing" when its disk is there,
// and "offline" when it lies on a removable drive that is not connected:
// the file may well be on the drive.
struct MissingReport {
    // Both in ID order.
    QList<MissingEntry> missing;
    QList<MissingEntry> offline;
    // For each top folder (Volumes::topFolder) that holds a missing entry:
    // how many entries it holds that are not offline, and how many are missing.
    struct Folder {
        QByteArray folder;
        qint64 entries = 0;
        qint64 missing = 0;
    };
    QList<Folder> folders;
};

// The entries of the catalogue file at `cataloguePath` whose file cannot be
// found. Throws store::DbError when the catalogue cannot be read.
MissingReport findMissingEntries(const QString& cataloguePath,
                                 const Volumes& volumes = currentVolumes());

// The drives of offline entries with how many entries each, in the order of the drives' names.
QList<QPair<QString, qint64>> offlineDrives(const QList<MissingEntry>& offline);

struct PruneResult {
    // The entries removed (or that would be, on a dry run), in ID order.
    QList<MissingEntry> removed;
    // Kept: their drive is not connected.
    QList<MissingEntry> offline;
    // Kept: more than half of the entries under the folder are missing, which
    // looks like a disk or share that is not there rather than files deleted.
    QList<MissingReport::Folder> unplugged;
};

// Removes the entries whose file is missing, in one transaction with bound
// values: each only while it still names the path it was found missing at.
// Never an entry on a drive that is not connected, nor one with no path (it
// names no file that went away), nor any under a folder that looks
// unplugged. A dry run changes nothing. Throws store::DbError on failure;
// nothing is removed then.
PruneResult pruneMissingEntries(const QString& cataloguePath, bool dryRun,
                                const Volumes& volumes = currentVolumes());

}  // namespace kalvero::reconcile
