#include "importer/soundsource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kalvero::importer {

SoundSource::SoundSource(const QByteArray& path)
    : path_(path), fd_(::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK)) {
    if (fd_ < 0) {
        error_ = errno;
        return;
    }
    struct stat st {};
    // A pipe or a device could block or never end: only plain files are read.
    if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = EINVAL;
        return;
    }
    size_ = st.st_size;
    modified_ = st.st_mtim.tv_sec;
    // Read before head_ holds anything, so that readAt goes to the file.
    QByteArray head(qsizetype(std::min<qint64>(size_, kHeadBytes)), Qt::Uninitialized);
    head.resize(qsizetype(readAt(0, head.data(), head.size())));
    head_ = std::move(head);
}

SoundSource::~SoundSource() {
    if (fd_ >= 0) ::close(fd_);
}

qint64 SoundSource::readAt(qint64 offset, char* out, qint64 length) const {
    if (offset < 0 || length <= 0 || fd_ < 0) return 0;
    qint64 done = 0;
    if (offset < head_.size()) {
        done = std::min<qint64>(length, head_.size() - offset);
        std::memcpy(out, head_.constData() + offset, size_t(done));
    }
    while (done < length) {
        const ssize_t n = ::pread(fd_, out + done, size_t(length - done), off_t(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    return done;
}

QByteArray SoundSource::readAt(qint64 offset, qint64 length) const {
    // A damaged header may claim gigabytes: what the file holds is the limit.
    length = std::clamp<qint64>(length, 0, std::max<qint64>(0, size_ - offset));
    QByteArray bytes(qsizetype(length), Qt::Uninitialized);
    bytes.resize(qsizetype(readAt(offset, bytes.data(), length)));
    return bytes;
}

SF_VIRTUAL_IO SoundSource::sndfileIo() {
    SF_VIRTUAL_IO io{};
    io.get_filelen = [](void* self) -> sf_count_t {
        return static_cast<Cursor*>(self)->source->size();
    };
    io.seek = [](sf_count_t offset, int whence, void* self) -> sf_count_t {
        Cursor& c = *static_cast<Cursor*>(self);
        const sf_count_t base = whence == SEEK_CUR   ? c.position
                                : whence == SEEK_END ? c.source->size()
                                                     : 0;
        c.position = std::max<sf_count_t>(0, base + offset);
        return c.position;
    };
    io.read = [](void* out, sf_count_t count, void* self) -> sf_count_t {
        Cursor& c = *static_cast<Cursor*>(self);
        const qint64 got = c.source->readAt(c.position, static_cast<char*>(out), count);
        c.position += got;
        return got;
    };
    io.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
    io.tell = [](void* self) -> sf_count_t { return static_cast<Cursor*>(self)->position; };
    return io;
}

}  // namespace kalvero::importer
