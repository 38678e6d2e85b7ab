#pragma once

#include "reconcile/catalogueanalysis.h"
#include "reconcile/drives.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>

namespace kalvero::reconcile {

// Finding where the files of missing entries went by what they hold: a file
// under the folder searched whose size and audio hash are those `analyse`
// stored for a missing entry is that entry's file, whatever its name, folder,
// container or tags now are.

// An entry whose file was found, and where.
struct FoundFile {
    qint64 id = 0;
    QByteArray path;
    QByteArray newPath;
};

// An entry left where it is because the match is not one to one: more than
// one file has its audio, or the one file that has it also has the audio of
// another missing entry.
struct AmbiguousMatch {
    qint64 id = 0;
    QByteArray path;
    // The files that have its audio, in the order the walk met them.
    QList<QByteArray> candidates;
};

// An entry left where it is because the only file with its audio is already
// another entry's: two entries must never name one file.
struct TakenMatch {
    qint64 id = 0;
    QByteArray path;
    QByteArray newPath;
    qint64 otherId = 0;
};

// Read by another thread while the search runs.
struct RelinkFindProgress {
    // Sound files the walk has met so far.
    std::atomic<qint64> walked{0};
    // Files of a missing entry's size, known once the walk is done, and how many were decoded.
    std::atomic<qint64> toDecode{0};
    std::atomic<qint64> decoded{0};
    // Set from outside: stop at the next file; nothing is changed then.
    std::atomic<bool> cancel{false};
};

struct RelinkFindResult {
    // All in ID order.
    QList<FoundFile> moved;
    QList<AmbiguousMatch> ambiguous;
    QList<TakenMatch> taken;
    // Missing entries that were looked for (those with an analysis).
    qint64 sought = 0;
    // Of those, the ones no file under the folder matched.
    qint64 notFound = 0;
    // Missing entries without a stored audio hash and size: nothing to recognise them by.
    qint64 unanalysed = 0;
    // Entries on drives that are not connected; not looked for, their files are likely there.
    qint64 offline = 0;
    // Sound files under the folder, and how many of them were decoded (the
    // others had no missing entry's size).
    qint64 walked = 0;
    qint64 decoded = 0;
    // Folders under the folder that could not be listed.
    qint64 unreadableFolders = 0;
    // Entries found whose path another program changed while the files were
    // read; they keep that change.
    qint64 changedSince = 0;
    // Files of a missing entry's size whose audio could not be read.
    QList<AnalysisFailure> unreadable;
    // Stopped through RelinkFindProgress::cancel: nothing was changed.
    bool cancelled = false;
};

// Looks under `folder` for the files of the catalogue's missing entries and
// points each entry found to its file, all in one transaction with bound
// values. Only files whose size equals a missing entry's analysed size are
// decoded. An entry with several candidate files, or sharing its one
// candidate with another entry, stays as it is; so does one whose file
// another entry already names, checked again under the write lock. An entry
// changed since it was found missing keeps its change. No transaction is open
// while files are read. A dry run changes nothing and reports the same.
// Throws store::DbError on failure; nothing is changed then.
RelinkFindResult relinkByContent(const QString& cataloguePath, const QString& folder, bool dryRun,
                                 RelinkFindProgress& progress,
                                 const Volumes& volumes = currentVolumes());

}  // namespace kalvero::reconcile
