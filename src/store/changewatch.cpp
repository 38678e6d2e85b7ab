#include "store/changewatch.h"

#include <sys/stat.h>

#include <QFile>

namespace kalvero::store {

void ChangeWatch::open(Connection connection, const QString& path) {
    connection_ = std::move(connection);
    path_ = path;
    // A question that would have to wait for another program's lock is
    // answered "cannot tell" at once: the load then reads the file itself.
    sqlite3_busy_timeout(connection_.handle(), 0);
}

void ChangeWatch::close() { connection_.close(); }

std::optional<ChangeWatch::Stamp> ChangeWatch::stamp() {
    if (!connection_.isOpen()) return std::nullopt;
    // The engine compares the inode at the path with the one it has open.
    int moved = 0;
    if (sqlite3_file_control(connection_.handle(), "main", SQLITE_FCNTL_HAS_MOVED, &moved) !=
            SQLITE_OK ||
        moved) {
        close();
        return std::nullopt;
    }
    struct stat info {};
    if (::stat(QFile::encodeName(path_).constData(), &info) != 0) {
        close();
        return std::nullopt;
    }
    Stamp s;
    try {
        Statement version(connection_, QByteArrayLiteral("PRAGMA data_version"));
        if (!version.step()) return std::nullopt;
        s.dataVersion = version.int64(0);
    } catch (const DbError&) {
        return std::nullopt;
    }
    s.device = static_cast<quint64>(info.st_dev);
    s.inode = static_cast<quint64>(info.st_ino);
    s.size = static_cast<qint64>(info.st_size);
    s.modifiedNs = static_cast<qint64>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec;
    s.changedNs = static_cast<qint64>(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec;
    return s;
}

}  // namespace kalvero::store
