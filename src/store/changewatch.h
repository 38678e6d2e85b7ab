#pragma once

#include "store/sqlitehandle.h"

#include <QString>
#include <optional>

namespace kalvero::store {

// Tells whether a catalogue file still holds what was read from it at some
// moment, without reading it again. A connection of its own stays open and
// idle on the file (it holds no lock between questions). The engine's
// data_version on it changes whenever any other connection commits to the
// file, this program's own catalogue connection included: other programs
// (kalvero-cli, the sqlcipher shell, a second window) and our own Add and
// delete alike. Beside it the file at the path must still be the very file
// the connection has open, and unchanged on disk (device, inode, size and
// change times): a file replaced, deleted, restored over or damaged by hand
// makes no commit.
class ChangeWatch {
public:
    struct Stamp {
        qint64 dataVersion = 0;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        bool operator==(const Stamp&) const = default;
    };

    // Watches `path` through `connection`, keyed and open on that file.
    void open(Connection connection, const QString& path);
    bool isOpen() const { return connection_.isOpen(); }
    void close();
    const Connection& connection() const { return connection_; }

    // How the file stands now; nothing when it cannot tell (the file moved
    // or went away, the engine could not read it, another program holds it
    // locked). Once the file has moved the connection is closed.
    std::optional<Stamp> stamp();

private:
    Connection connection_;
    QString path_;
};

}  // namespace kalvero::store
