#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>

namespace kalvero::reconcile {

// A folder under which removable drives are mounted, and how many folder
// levels below it name one drive: 2 for /media/USER/NAME, 1 for /mnt/NAME.
struct MediaRoot {
    QByteArray folder;
    int depth = 1;
};

// /media and /run/media (a drive per user and name, or one level for drives
// mounted by hand or by older tools) and /mnt.
QList<MediaRoot> standardMediaRoots();

// The mount points in the text of /proc/self/mountinfo, with its octal
// escapes (\040 for a blank, \011, \012, \134) undone.
QSet<QByteArray> parseMountInfo(const QByteArray& text);

// Where drives and shares are mounted, as one scan of the catalogue sees it.
// Paths are the bytes the catalogue stores.
class Volumes {
public:
    Volumes(QList<MediaRoot> mediaRoots, QSet<QByteArray> mountPoints);

    // The drive folder of a path on a removable drive that is not there (the
    // folder is absent, or no file system is mounted on it), e.g.
    // "/media/you/SFX-Drive"; empty when the path is on no such drive.
    // May look at the drive's folder and its parent on disk.
    QByteArray offlineDrive(const QByteArray& path) const;

    // The folder whose entries go or stay together when a disk or share is
    // not there: the drive for a path on a removable drive, else the deepest
    // mount point above the path other than "/", else the path's first
    // folder below "/" ("/home"). Computed from the text alone.
    QByteArray topFolder(const QByteArray& path) const;

    bool isMountPoint(const QByteArray& folder) const;

private:
    // The folders of `path` that could be its drive's, shallowest first.
    QList<QByteArray> driveCandidates(const QByteArray& path) const;

    QList<MediaRoot> mediaRoots_;
    QSet<QByteArray> mountPoints_;
};

// The system's volumes now: the standard media roots and the mount points
// of /proc/self/mountinfo. Tests put their own in place with ScopedVolumes.
Volumes currentVolumes();

// While it lives, currentVolumes() gives `volumes` (for tests). Not nested
// across threads.
class ScopedVolumes {
public:
    explicit ScopedVolumes(const Volumes& volumes);
    ~ScopedVolumes();
    ScopedVolumes(const ScopedVolumes&) = delete;
    ScopedVolumes& operator=(const ScopedVolumes&) = delete;
};

}  // namespace kalvero::reconcile
