#pragma once

#include <sndfile.h>

#include <QByteArray>
#include <QByteArrayView>

namespace kalvero::importer {

// One sound file opened once for every reader that looks at it: libsndfile,
// TagLib, mpg123 and the chunk reads of our own. The file's start is read in
// one go and served from memory, since every reader begins there with many
// small reads and seeks; anything beyond it is a positioned read. Each reader
// keeps its own position, so they may take turns.
class SoundSource {
public:
    static constexpr qsizetype kHeadBytes = 32 * 1024;

    explicit SoundSource(const QByteArray& path);
    ~SoundSource();
    SoundSource(const SoundSource&) = delete;
    SoundSource& operator=(const SoundSource&) = delete;

    bool isOpen() const { return fd_ >= 0 && error_ == 0; }
    // errno of the failed open, or EINVAL for what is not a plain file.
    int error() const { return error_; }
    const QByteArray& path() const { return path_; }
    qint64 size() const { return size_; }
    // Seconds since the epoch, UTC.
    qint64 modified() const { return modified_; }
    QByteArrayView head() const { return head_; }

    // Up to `length` bytes from `offset`; fewer at the end of the file.
    qint64 readAt(qint64 offset, char* out, qint64 length) const;
    // The same into a new array, never longer than what the file holds there.
    QByteArray readAt(qint64 offset, qint64 length) const;

    // A reading position for libsndfile's virtual I/O.
    struct Cursor {
        const SoundSource* source;
        sf_count_t position = 0;
    };
    static SF_VIRTUAL_IO sndfileIo();

private:
    QByteArray path_;
    int fd_ = -1;
    int error_ = 0;
    qint64 size_ = 0;
    qint64 modified_ = -1;
    QByteArray head_;
};

}  // namespace kalvero::importer
