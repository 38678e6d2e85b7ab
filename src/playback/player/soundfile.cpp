#include "playback/player/soundfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QStringList>
#include <cerrno>
#include <cstring>

namespace kalvero::player {

namespace {

QString systemError(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// libsndfile's messages end with a full stop; ours add their own.
QString libraryError(SNDFILE* file) {
    QString text = QString::fromLocal8Bit(sf_strerror(file)).trimmed();
    while (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

// Opens the file for reading and checks that it is a plain file. Returns
// the descriptor, or -1 with `reason` set.
int openPlainFile(const QByteArray& nativePath, QString& reason) {
    if (nativePath.isEmpty()) {
        reason = QStringLiteral("no file was named");
        return -1;
    }
    // Without O_NONBLOCK, opening a pipe would wait for a writer.
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        reason = error == ENOENT || error == ENOTDIR
                     ? QStringLiteral("the file does not exist")
                     : QStringLiteral("the file cannot be read (%1)").arg(systemError(error));
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        reason = QStringLiteral("the file cannot be read (%1)").arg(systemError(errno));
    } else if (S_ISDIR(st.st_mode)) {
        reason = QStringLiteral("it is a folder, not a sound file");
    } else if (!S_ISREG(st.st_mode)) {
        // A pipe or a device could block or never end: only plain files are played.
        reason = QStringLiteral("it is not a plain file");
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

}  // namespace

std::unique_ptr<SoundFile> SoundFile::open(const QByteArray& nativePath, QString& reason) {
    reason.clear();
    const int fd = openPlainFile(nativePath, reason);
    if (fd < 0) return nullptr;

    // The file checked above is the one decoded. The descriptor stays ours
    // to close, whether libsndfile accepts the file or not.
    SF_INFO info{};
    // Ogg FLAC is looked for first: a failed sf_open_fd closes the descriptor.
    std::unique_ptr<OggFlacStream> oggFlac = OggFlacStream::fromFile(fd);
    SNDFILE* file = oggFlac ? oggFlac->open(info) : sf_open_fd(fd, SFM_READ, &info, SF_FALSE);
    if (file == nullptr) {
        ::close(fd);
        reason = QStringLiteral("it is not a sound file that KZW4 can decode (%1)")
                     .arg(libraryError(nullptr));
        return nullptr;
    }
    std::unique_ptr<SoundFile> sound(new SoundFile(file, fd, info));
    sound->oggFlac_ = std::move(oggFlac);
    if (info.channels < 1 || info.channels > kMaxChannels) {
        reason = QStringLiteral("it has %1 channels, and at most %2 can be played")
                     .arg(info.channels)
                     .arg(kMaxChannels);
        return nullptr;
    }
    if (info.samplerate < 1) {
        reason = QStringLiteral("its sample rate (%1) is not valid").arg(info.samplerate);
        return nullptr;
    }
    return sound;
}

SoundFile::~SoundFile() {
    sf_close(file_);
    ::close(fd_);
}

sf_count_t SoundFile::frames() const {
    // libsndfile reports an unknown length as the largest count.
    return info_.frames >= 0 && info_.frames < SF_COUNT_MAX ? info_.frames : -1;
}

sf_count_t SoundFile::readFrames(float* out, sf_count_t frames) {
    return sf_readf_float(file_, out, frames);
}

sf_count_t SoundFile::readFrames(int* out, sf_count_t frames) {
    return sf_readf_int(file_, out, frames);
}

sf_count_t SoundFile::readFrames(double* out, sf_count_t frames) {
    return sf_readf_double(file_, out, frames);
}

bool SoundFile::broadcastInfo(SF_BROADCAST_INFO& info) const {
    info = {};
    return sf_command(file_, SFC_GET_BROADCAST_INFO, &info, sizeof info) == SF_TRUE;
}

bool SoundFile::seek(sf_count_t frame) {
    return frame >= 0 && sf_seek(file_, frame, SEEK_SET) == frame;
}

QString SoundFile::faultText() const {
    if (sf_error(file_) == SF_ERR_NO_ERROR) return {};
    return libraryError(file_);
}

}  // namespace kalvero::player
