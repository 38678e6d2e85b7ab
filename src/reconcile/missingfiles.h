#pragma once

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
};

// The entries of the catalogue file at `cataloguePath` whose file is missing,
// in ID order. Throws store::DbError when the catalogue cannot be read.
QList<MissingEntry> findMissingEntries(const QString& cataloguePath);

}  // namespace kalvero::reconcile
