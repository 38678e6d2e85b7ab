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
#include <cstring>
#include <set>
#include <utility>
#include <vector>

namespace kalvero::importer {

namespace {

constexpr const char* kSoundExtensions[] = {"wav",  "wave", "bwf", "aif",  "aiff", "aifc",
                                            "flac", "ogg",  "oga", "opus", "mp3",  "au",
                                            "snd",  "w64",  "caf", "rf64"};

class Walker {
public:
    Walker(WalkCounts& counts, const std::function<bool(const QByteArray&)>& onFile,
           const std::atomic<bool>* stop)
        : counts_(counts), onFile_(onFile), stop_(stop) {}

    bool root(const QByteArray& path) {
        struct stat st {};
        if (::stat(path.constData(), &st) != 0) {
            ++counts_.missingRoots;
            return true;
        }
        if (S_ISDIR(st.st_mode)) return folder(path, st);
        if (S_ISREG(st.st_mode) && isSoundFileName(path)) return onFile_(path);
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
        if (type == DT_REG) return !isSoundFileName(name) || onFile_(prefix + name);
        if (type != DT_DIR && type != DT_LNK && type != DT_UNKNOWN) return true;
        // A file of another name is never looked at: walks stay at listing speed.
        if (type != DT_DIR && type != DT_UNKNOWN && !isSoundFileName(name)) {
            // A link may still lead to a folder.
            struct stat st {};
            if (::fstatat(fd, name.constData(), &st, 0) == 0 && S_ISDIR(st.st_mode))
                return folder(prefix + name, st);
            return true;
        }
        struct stat st {};
        if (::fstatat(fd, name.constData(), &st, 0) != 0) {
            ++counts_.vanished;
            return true;
        }
        if (S_ISDIR(st.st_mode)) return folder(prefix + name, st);
        if (S_ISREG(st.st_mode) && isSoundFileName(name)) return onFile_(prefix + name);
        return true;
    }

    WalkCounts& counts_;
    const std::function<bool(const QByteArray&)>& onFile_;
    const std::atomic<bool>* stop_;
    std::set<std::pair<dev_t, ino_t>> visited_;
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

bool walkSoundFiles(const QStringList& paths, WalkCounts& counts,
                    const std::function<bool(const QByteArray&)>& onFile,
                    const std::atomic<bool>* stop) {
    Walker walker(counts, onFile, stop);
    for (const QString& path : paths) {
        if (!walker.root(storedPathOf(path))) return false;
    }
    return true;
}

}  // namespace kalvero::importer
