#include "reconcile/drives.h"

#include <sys/stat.h>

#include <QFile>
#include <mutex>
#include <optional>

namespace kalvero::reconcile {

namespace {

std::mutex overrideMutex;
std::optional<Volumes> overridden;

// "/a/b/c" and "/a" give "b/c"; empty when `path` is not below `folder`.
QByteArray below(const QByteArray& path, const QByteArray& folder) {
    if (folder == "/") return path.startsWith('/') ? path.mid(1) : QByteArray();
    if (path.size() <= folder.size() + 1 || !path.startsWith(folder) ||
        path.at(folder.size()) != '/')
        return {};
    return path.mid(folder.size() + 1);
}

QByteArray unescapeMountField(const QByteArray& field) {
    QByteArray out;
    out.reserve(field.size());
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char c = field.at(i);
        if (c == '\\' && i + 3 < field.size() && field.at(i + 1) >= '0' && field.at(i + 1) <= '3') {
            bool ok = false;
            const int value = field.mid(i + 1, 3).toInt(&ok, 8);
            if (ok) {
                out += char(value);
                i += 3;
                continue;
            }
        }
        out += c;
    }
    return out;
}

}  // namespace

QList<MediaRoot> standardMediaRoots() {
    return {{QByteArrayLiteral("/media"), 2},
            {QByteArrayLiteral("/run/media"), 2},
            {QByteArrayLiteral("/mnt"), 1}};
}

QSet<QByteArray> parseMountInfo(const QByteArray& text) {
    // Each line: ID, parent ID, major:minor, root, mount point, ... ; the
    // fields are split on blanks, which the kernel escapes inside a field.
    QSet<QByteArray> points;
    for (const QByteArray& line : text.split('\n')) {
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 5 || fields.at(4).isEmpty()) continue;
        points.insert(unescapeMountField(fields.at(4)));
    }
    return points;
}

Volumes::Volumes(QList<MediaRoot> mediaRoots, QSet<QByteArray> mountPoints)
    : mediaRoots_(std::move(mediaRoots)), mountPoints_(std::move(mountPoints)) {}

QList<QByteArray> Volumes::driveCandidates(const QByteArray& path) const {
    for (const MediaRoot& root : mediaRoots_) {
        const QByteArray rest = below(path, root.folder);
        if (rest.isEmpty()) continue;
        // Only folders count: the last part of the path is the file.
        QList<QByteArray> parts = rest.split('/');
        parts.removeLast();
        QList<QByteArray> candidates;
        QByteArray folder = root.folder;
        for (qsizetype i = 0; i < parts.size() && i < root.depth; ++i) {
            if (parts.at(i).isEmpty()) break;
            folder += '/' + parts.at(i);
            candidates.append(folder);
        }
        if (!candidates.isEmpty()) return candidates;
    }
    return {};
}

bool Volumes::isMountPoint(const QByteArray& folder) const {
    if (mountPoints_.contains(folder)) return true;
    // Another device than its parent's is a mount point too, whatever name
    // the mount table gives it (a link on the way, another namespace).
    struct stat self {
    }, parent{};
    return ::stat(folder.constData(), &self) == 0 && S_ISDIR(self.st_mode) &&
           ::stat((folder + "/..").constData(), &parent) == 0 && self.st_dev != parent.st_dev;
}

QByteArray Volumes::offlineDrive(const QByteArray& path) const {
    const QList<QByteArray> candidates = driveCandidates(path);
    if (candidates.isEmpty()) return {};
    for (const QByteArray& folder : candidates) {
        if (isMountPoint(folder)) return {};
    }
    return candidates.constLast();
}

QByteArray Volumes::topFolder(const QByteArray& path) const {
    const QList<QByteArray> candidates = driveCandidates(path);
    for (const QByteArray& folder : candidates) {
        if (mountPoints_.contains(folder)) return folder;
    }
    if (!candidates.isEmpty()) return candidates.constLast();
    for (qsizetype slash = path.lastIndexOf('/'); slash > 0;
         slash = path.lastIndexOf('/', slash - 1)) {
        const QByteArray folder = path.left(slash);
        if (mountPoints_.contains(folder)) return folder;
    }
    const qsizetype first = path.indexOf('/', 1);
    return first > 0 ? path.left(first) : QByteArray();
}

Volumes currentVolumes() {
    {
        std::lock_guard lock(overrideMutex);
        if (overridden) return *overridden;
    }
    QFile table(QStringLiteral("/proc/self/mountinfo"));
    QSet<QByteArray> points;
    // Without the table, isMountPoint() still compares devices.
    if (table.open(QIODevice::ReadOnly)) points = parseMountInfo(table.readAll());
    return Volumes(standardMediaRoots(), std::move(points));
}

ScopedVolumes::ScopedVolumes(const Volumes& volumes) {
    std::lock_guard lock(overrideMutex);
    overridden = volumes;
}

ScopedVolumes::~ScopedVolumes() {
    std::lock_guard lock(overrideMutex);
    overridden.reset();
}

}  // namespace kalvero::reconcile
