#include "importer/soundinfo.h"

#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QStringDecoder>
#include <QStringList>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kalvero::importer {

namespace {

// Embedded texts are UTF-8 in newer files and Latin-1 in many older ones.
QString decodeEmbedded(const char* text, size_t maxBytes) {
    if (!text) return {};
    const size_t n = strnlen(text, maxBytes);
    const QByteArray bytes(text, static_cast<qsizetype>(n));
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString decoded = utf8(bytes);
    if (utf8.hasError()) decoded = QString::fromLatin1(bytes);
    return decoded.trimmed();
}

QString containerName(int format) {
    const int major = format & SF_FORMAT_TYPEMASK;
    const int sub = format & SF_FORMAT_SUBMASK;
    switch (major) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX:
            return QStringLiteral("WAV");
        case SF_FORMAT_AIFF:
            return QStringLiteral("AIFF");
        case SF_FORMAT_AU:
            return QStringLiteral("AU");
        case SF_FORMAT_W64:
            return QStringLiteral("W64");
        case SF_FORMAT_CAF:
            return QStringLiteral("CAF");
        case SF_FORMAT_RF64:
            return QStringLiteral("RF64");
        case SF_FORMAT_FLAC:
            return QStringLiteral("FLAC");
        case SF_FORMAT_MPEG:
            return QStringLiteral("MP3");
        case SF_FORMAT_OGG:
            if (sub == SF_FORMAT_OPUS) return QStringLiteral("Opus");
            if (sub == SF_FORMAT_VORBIS) return QStringLiteral("Ogg Vorbis");
            return QStringLiteral("Ogg");
        default:
            break;
    }
    SF_FORMAT_INFO info{};
    info.format = major;
    if (sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof(info)) == 0 && info.name)
        return QString::fromUtf8(info.name).section(QLatin1Char(' '), 0, 0);
    return QStringLiteral("Sound");
}

// Bit depth where the encoding defines one; compressed encodings have none.
QString bitDepth(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return QStringLiteral("8-bit");
        case SF_FORMAT_PCM_16:
            return QStringLiteral("16-bit");
        case SF_FORMAT_PCM_24:
            return QStringLiteral("24-bit");
        case SF_FORMAT_PCM_32:
            return QStringLiteral("32-bit");
        case SF_FORMAT_FLOAT:
            return QStringLiteral("32-bit float");
        case SF_FORMAT_DOUBLE:
            return QStringLiteral("64-bit float");
        case SF_FORMAT_ULAW:
            return QStringLiteral("8-bit u-law");
        case SF_FORMAT_ALAW:
            return QStringLiteral("8-bit A-law");
        default:
            return {};
    }
}

QString channelText(int channels) {
    if (channels == 1) return QStringLiteral("mono");
    if (channels == 2) return QStringLiteral("stereo");
    return QStringLiteral("%1 channels").arg(channels);
}

// libsndfile reads a header in many small reads and seeks. Served from one
// read of the file's start (and a positioned read for anything beyond it),
// opening a file costs three system calls instead of about two dozen.
class BufferedFile {
public:
    static constexpr qsizetype kHeadBytes = 32 * 1024;

    explicit BufferedFile(const QByteArray& path)
        : fd_(::open(path.constData(), O_RDONLY | O_CLOEXEC)) {
        if (fd_ < 0) {
            error_ = errno;
            return;
        }
        struct stat st {};
        if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
            error_ = EINVAL;
            return;
        }
        size_ = st.st_size;
        head_.resize(qsizetype(std::min<sf_count_t>(size_, kHeadBytes)));
        qsizetype got = 0;
        while (got < head_.size()) {
            const ssize_t n = ::read(fd_, head_.data() + got, size_t(head_.size() - got));
            if (n <= 0) break;
            got += n;
        }
        head_.resize(got);
    }
    ~BufferedFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    BufferedFile(const BufferedFile&) = delete;
    BufferedFile& operator=(const BufferedFile&) = delete;

    bool isOpen() const { return fd_ >= 0 && error_ == 0; }
    int error() const { return error_; }

    static SF_VIRTUAL_IO io() {
        SF_VIRTUAL_IO v{};
        v.get_filelen = [](void* self) -> sf_count_t { return file(self).size_; };
        v.seek = [](sf_count_t offset, int whence, void* self) -> sf_count_t {
            BufferedFile& f = file(self);
            const sf_count_t base = whence == SEEK_CUR ? f.pos_ : whence == SEEK_END ? f.size_ : 0;
            f.pos_ = std::max<sf_count_t>(0, base + offset);
            return f.pos_;
        };
        v.read = [](void* out, sf_count_t count, void* self) -> sf_count_t {
            BufferedFile& f = file(self);
            if (count <= 0) return 0;
            sf_count_t done = 0;
            const sf_count_t buffered = f.head_.size();
            if (f.pos_ < buffered) {
                done = std::min<sf_count_t>(count, buffered - f.pos_);
                std::memcpy(out, f.head_.constData() + f.pos_, size_t(done));
            }
            while (done < count) {
                const ssize_t n = ::pread(f.fd_, static_cast<char*>(out) + done,
                                          size_t(count - done), off_t(f.pos_ + done));
                if (n <= 0) break;
                done += n;
            }
            f.pos_ += done;
            return done;
        };
        v.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
        v.tell = [](void* self) -> sf_count_t { return file(self).pos_; };
        return v;
    }

private:
    static BufferedFile& file(void* self) { return *static_cast<BufferedFile*>(self); }

    int fd_;
    int error_ = 0;
    sf_count_t size_ = 0;
    sf_count_t pos_ = 0;
    QByteArray head_;
};

}  // namespace

QString formatDuration(qint64 frames, int sampleRate) {
    if (sampleRate <= 0 || frames < 0) return {};
    const qint64 hundredths = frames * 100 / sampleRate;
    const qint64 seconds = hundredths / 100;
    const QString tail = QStringLiteral("%1.%2")
                             .arg(seconds % 60, 2, 10, QLatin1Char('0'))
                             .arg(hundredths % 100, 2, 10, QLatin1Char('0'));
    if (seconds >= 3600) {
        return QStringLiteral("%1:%2:%3")
            .arg(seconds / 3600)
            .arg((seconds / 60) % 60, 2, 10, QLatin1Char('0'))
            .arg(tail);
    }
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(tail);
}

SoundInfo readSoundInfo(const QByteArray& path) {
    SoundInfo result;
    BufferedFile source(path);
    if (!source.isOpen()) {
        if (source.error() == ENOENT) result.status = SoundInfo::Status::Missing;
        return result;
    }
    SF_INFO info{};
    SF_VIRTUAL_IO io = BufferedFile::io();
    SNDFILE* file = sf_open_virtual(&io, SFM_READ, &info, &source);
    if (!file) return result;
    result.status = SoundInfo::Status::Readable;
    result.title = decodeEmbedded(sf_get_string(file, SF_STR_TITLE), 4096);

    SF_BROADCAST_INFO bext{};
    if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof(bext)) == SF_TRUE)
        result.description = decodeEmbedded(bext.description, sizeof(bext.description));
    const QString comment = decodeEmbedded(sf_get_string(file, SF_STR_COMMENT), 65536);
    if (!comment.isEmpty() && comment != result.description) {
        result.description = result.description.isEmpty()
                                 ? comment
                                 : result.description + QLatin1Char(' ') + comment;
    }

    QStringList parts{containerName(info.format), QStringLiteral("%1 Hz").arg(info.samplerate)};
    if (const QString depth = bitDepth(info.format); !depth.isEmpty()) parts << depth;
    parts << channelText(info.channels);
    if (const QString duration = formatDuration(info.frames, info.samplerate); !duration.isEmpty())
        parts << duration;
    result.summary = parts.join(QLatin1Char(' '));
    sf_close(file);
    return result;
}

}  // namespace kalvero::importer
