#include "importer/soundwalk.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <utility>
#include <vector>

namespace kalvero::importer {

namespace {

using StatVisitor = std::function<bool(const QByteArray& path, const struct stat* st)>;

constexpr const char* kSoundExtensions[] = {"wav",  "wave", "bwf", "aif",  "aiff", "aifc",
                                            "flac", "ogg",  "oga", "opus", "mp3",  "au",
                                            "snd",  "w64",  "caf", "rf64"};

class Walker {
public:
    // With `wantStat`, every file's stat goes to `onFile`; without, it may be null.
    Walker(WalkCounts& counts, const StatVisitor& onFile, bool wantStat,
           const std::atomic<bool>* stop)
        : counts_(counts), onFile_(onFile), wantStat_(wantStat), stop_(stop) {}

    // Every given path is known before the first is walked, so that a link in
    // the first can be recognised as leading into the second.
    void addRoot(const QByteArray& path) {
        if (const std::unique_ptr<char, decltype(&std::free)> real(
                ::realpath(path.constData(), nullptr), &std::free);
            real)
            realRoots_.push_back(QByteArray(real.get()));
    }

    bool root(const QByteArray& path) {
        struct stat st {};
        if (::stat(path.constData(), &st) != 0) {
            ++counts_.missingRoots;
            return true;
        }
        if (S_ISDIR(st.st_mode)) return folder(path, st);
        if (S_ISREG(st.st_mode) && isSoundFileName(path)) return onFile_(path, &st);
        counts_.notSoundRoots << QFile::decodeName(path);
        return true;
    }

private:
    bool stopped() const { return stop_ && stop_->load(std::memory_order_relaxed); }

    bool folder(const QByteArray& path, const struct stat& st) {
        // A real folder is walked once, whichever path reaches it first.
        if (!visited_.insert({st.st_dev, st.st_ino}).second) return true;
        if (stopped()) return false;
        DIR* dir = ::opendir(path.constData());
        if (!dir) {
            if (errno == ENOENT)
                ++counts_.vanished;
            else
                ++counts_.unreadableFolders;
            return true;
        }
        struct Item {
            QByteArray name;
            unsigned char type;
        };
        std::vector<Item> items;
        errno = 0;
        while (const dirent* entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.') continue;  // hidden, and "." and ".."
            items.push_back({QByteArray(entry->d_name), entry->d_type});
        }
        const bool listed = errno == 0;
        const int fd = ::dirfd(dir);
        std::sort(items.begin(), items.end(),
                  [](const Item& a, const Item& b) { return a.name < b.name; });
        const QByteArray prefix = path.endsWith('/') ? path : path + '/';
        bool go = true;
        for (const Item& item : items) {
            if (!go) break;
            go = child(fd, prefix, item.name, item.type);
        }
        ::closedir(dir);
        if (!listed) ++counts_.unreadableFolders;
        return go;
    }

    bool child(int fd, const QByteArray& prefix, const QByteArray& name, unsigned char type) {
        // A file of another name is never looked at: walks stay at listing speed.
        if (type == DT_REG) return !isSoundFileName(name) || regularFile(fd, prefix, name);
        if (type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN) return true;
        if (type != DT_LNK) {
            // The entry itself, not what it may lead to: it may have become a
            // link since it was listed, and some file systems list no types.
            struct stat st {};
            if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
                ++counts_.vanished;
                return true;
            }
            if (S_ISDIR(st.st_mode)) return folder(prefix + name, st);
            if (S_ISREG(st.st_mode)) return !isSoundFileName(name) || onFile_(prefix + name, &st);
            if (!S_ISLNK(st.st_mode)) return true;
        }
        return link(fd, prefix, name);
    }

    bool link(int fd, const QByteArray& prefix, const QByteArray& name) {
        struct stat st {};
        if (::fstatat(fd, name.constData(), &st, 0) != 0) {
            struct stat self {};
            if (::fstatat(fd, name.constData(), &self, AT_SYMLINK_NOFOLLOW) == 0)
                ++counts_.brokenLinks;
            else
                ++counts_.vanished;
            return true;
        }
        const bool isFolder = S_ISDIR(st.st_mode);
        if (!isFolder && !(S_ISREG(st.st_mode) && isSoundFileName(name))) return true;
        const QByteArray path = prefix + name;
        // Walked through the link, a folder of the given paths would be stored
        // under the link's path and category, and again when imported itself.
        if (leadsIntoRoots(path)) return true;
        return isFolder ? folder(path, st) : onFile_(path, &st);
    }

    // A file listed as a regular one; looked at only when its stat is asked
    // for, and then in its folder, which costs less than by its whole path.
    bool regularFile(int fd, const QByteArray& prefix, const QByteArray& name) {
        if (!wantStat_) return onFile_(prefix + name, nullptr);
        struct stat st {};
        if (::fstatat(fd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ++counts_.vanished;
            return true;
        }
        // Something else by now: taken as the walk takes what it lists untyped.
        if (!S_ISREG(st.st_mode)) return child(fd, prefix, name, DT_UNKNOWN);
        return onFile_(prefix + name, &st);
    }

    // Whether the link at `path` leads to a given path, or to something the
    // walk reaches below one: not hidden, since hidden names are left out.
    bool leadsIntoRoots(const QByteArray& path) const {
        const std::unique_ptr<char, decltype(&std::free)> resolved(
            ::realpath(path.constData(), nullptr), &std::free);
        if (!resolved) return false;
        const QByteArrayView target(resolved.get());
        for (const QByteArray& root : realRoots_) {
            if (target == root) return true;
            const qsizetype start = root.endsWith('/') ? root.size() : root.size() + 1;
            if (!target.startsWith(root) || target.size() <= start || target[start - 1] != '/')
                continue;
            bool hidden = false;
            for (qsizetype at = start; at < target.size() && !hidden;) {
                hidden = target[at] == '.';
                const qsizetype slash = target.indexOf('/', at);
                at = slash < 0 ? target.size() : slash + 1;
            }
            if (!hidden) return true;
        }
        return false;
    }

    WalkCounts& counts_;
    const StatVisitor& onFile_;
    const bool wantStat_;
    const std::atomic<bool>* stop_;
    std::set<std::pair<dev_t, ino_t>> visited_;
    // The given paths with every link resolved.
    std::vector<QByteArray> realRoots_;
};

}  // namespace

bool isSoundFileName(QByteArrayView name) {
    const qsizetype slash = name.lastIndexOf('/');
    const QByteArrayView base = name.sliced(slash + 1);
    const qsizetype dot = base.lastIndexOf('.');
    if (dot <= 0) return false;  // no extension, or a hidden name with nothing before the dot
    const QByteArrayView ext = base.sliced(dot + 1);
    return std::any_of(
        std::begin(kSoundExtensions), std::end(kSoundExtensions),
        [&](const char* known) { return ext.compare(known, Qt::CaseInsensitive) == 0; });
}

QByteArray storedPathOf(const QString& path) {
    return QFile::encodeName(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

namespace {

bool walk(const QStringList& paths, WalkCounts& counts, const StatVisitor& onFile, bool wantStat,
          const std::atomic<bool>* stop) {
    Walker walker(counts, onFile, wantStat, stop);
    QByteArrayList roots;
    for (const QString& path : paths) {
        // Absolute and cleaned, but links kept as the user named them.
        roots << storedPathOf(path);
        walker.addRoot(roots.back());
    }
    for (const QByteArray& root : roots)
        if (!walker.root(root)) return false;
    return true;
}

}  // namespace

bool walkSoundFiles(const QStringList& paths, WalkCounts& counts,
                    const std::function<bool(const QByteArray&)>& onFile,
                    const std::atomic<bool>* stop) {
    return walk(
        paths, counts,
        [&onFile](const QByteArray& path, const struct stat*) { return onFile(path); }, false,
        stop);
}

bool walkSoundFilesWithStat(
    const QStringList& paths, WalkCounts& counts,
    const std::function<bool(const QByteArray& path, const struct stat& st)>& onFile,
    const std::atomic<bool>* stop) {
    return walk(
        paths, counts,
        [&onFile](const QByteArray& path, const struct stat* st) { return onFile(path, *st); },
        true, stop);
}

}  // namespace kalvero::importer
