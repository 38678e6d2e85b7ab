#include "reconcile/audioanalysis.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QtEndian>
#include <bit>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace kalvero::reconcile {

namespace {

// Enough to keep the decoder, the hash and the meter in their fast loops,
// small enough to stay in the cache between the three.
constexpr sf_count_t kFramesPerRead = 4096;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
struct DigestFreer {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

qint64 modifiedNsOf(const struct stat& info) {
    return qint64(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           modifiedNsOf(a) == modifiedNsOf(b);
}

std::optional<AudioAnalysis> fail(QString* error, const QString& why) {
    if (error) *error = why;
    return std::nullopt;
}

void appendLittleEndian(QByteArray& bytes, quint32 value) {
    const quint32 le = qToLittleEndian(value);
    bytes.append(reinterpret_cast<const char*>(&le), sizeof le);
}

QString oneDecimal(double value) {
    // -0.04 would otherwise show as "-0.0".
    const double rounded = std::round(value * 10) / 10;
    return QString::number(rounded == 0 ? 0.0 : rounded, 'f', 1);
}

}  // namespace

LoudnessMeter::LoudnessMeter(int channels, int sampleRate)
    : channels_(channels),
      state_(channels > 0 && sampleRate > 0
                 ? ebur128_init(unsigned(channels), static_cast<unsigned long>(sampleRate),
                                EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_SAMPLE_PEAK)
                 : nullptr) {}

bool LoudnessMeter::add(const int* frames, qint64 count) {
    if (!state_) return false;
    if (count <= 0) return true;
    if (ebur128_add_frames_int(state_.get(), frames, size_t(count)) != EBUR128_SUCCESS) {
        state_.reset();
        return false;
    }
    frames_ += count;
    return true;
}

bool LoudnessMeter::add(const float* frames, qint64 count) {
    if (!state_) return false;
    if (count <= 0) return true;
    if (ebur128_add_frames_float(state_.get(), frames, size_t(count)) != EBUR128_SUCCESS) {
        state_.reset();
        return false;
    }
    frames_ += count;
    return true;
}

std::optional<LoudnessMeter::Measures> LoudnessMeter::measures() const {
    if (!state_) return std::nullopt;
    Measures measures;
    if (ebur128_loudness_global(state_.get(), &measures.integratedLufs) != EBUR128_SUCCESS ||
        ebur128_loudness_range(state_.get(), &measures.loudnessRangeLu) != EBUR128_SUCCESS)
        return std::nullopt;
    for (int channel = 0; channel < channels_; ++channel) {
        double peak = 0;
        if (ebur128_sample_peak(state_.get(), unsigned(channel), &peak) != EBUR128_SUCCESS)
            return std::nullopt;
        measures.samplePeak = std::max(measures.samplePeak, peak);
    }
    return measures;
}

std::optional<AudioAnalysis> analyseSoundFile(const QString& path, QString* error,
                                              const std::atomic<bool>* stop) {
    const QByteArray name = QFile::encodeName(path);
    if (name.isEmpty()) return fail(error, QStringLiteral("No file named."));
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return fail(error, QStringLiteral("The file cannot be opened: %1.")
                               .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    struct stat before {};
    if (::fstat(fd, &before) != 0 || !S_ISREG(before.st_mode)) {
        ::close(fd);
        return fail(error, QStringLiteral("Not a file."));
    }
    SF_INFO info{};
    // libsndfile closes the descriptor with the file, or at once when it fails.
    std::unique_ptr<SNDFILE, SndfileCloser> file(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
    if (!file) {
        // libsndfile's sentences mostly end with a full stop of their own.
        QString why = QString::fromUtf8(sf_strerror(nullptr));
        if (why.endsWith(QLatin1Char('.'))) why.chop(1);
        return fail(error, QStringLiteral("Not a sound file libsndfile can read: %1.").arg(why));
    }
    if (info.channels <= 0 || info.samplerate <= 0)
        return fail(error, QStringLiteral("The file names no channels or no sample rate."));
    // Floating-point samples beyond full scale are clipped rather than wrapped
    // when turned into integers.
    sf_command(file.get(), SFC_SET_CLIPPING, nullptr, SF_TRUE);

    LoudnessMeter meter(info.channels, info.samplerate);
    if (!meter.isValid()) {
        return fail(error,
                    QStringLiteral("The loudness of %1 channels at %2 Hz cannot be measured.")
                        .arg(info.channels)
                        .arg(info.samplerate));
    }
    std::unique_ptr<EVP_MD_CTX, DigestFreer> digest(EVP_MD_CTX_new());
    if (!digest || EVP_DigestInit_ex(digest.get(), EVP_sha256(), nullptr) != 1)
        return fail(error, QStringLiteral("The hash could not be started."));

    // The shape first: the same samples as one channel or as two, or at
    // another rate, are other audio.
    QByteArray shape;
    appendLittleEndian(shape, quint32(info.channels));
    appendLittleEndian(shape, quint32(info.samplerate));
    EVP_DigestUpdate(digest.get(), shape.constData(), size_t(shape.size()));

    std::vector<int> buffer(size_t(kFramesPerRead) * size_t(info.channels));
    AudioAnalysis result;
    result.channels = info.channels;
    result.sampleRate = info.samplerate;
    for (;;) {
        if (stop && stop->load(std::memory_order_relaxed))
            return fail(error, QStringLiteral("Stopped before the end of the file."));
        const sf_count_t frames = sf_readf_int(file.get(), buffer.data(), kFramesPerRead);
        if (frames <= 0) break;
        const size_t samples = size_t(frames) * size_t(info.channels);
        if constexpr (std::endian::native == std::endian::little) {
            EVP_DigestUpdate(digest.get(), buffer.data(), samples * sizeof(int));
        } else {
            std::vector<quint32> le(samples);
            for (size_t i = 0; i < samples; ++i) le[i] = qToLittleEndian(quint32(buffer[i]));
            EVP_DigestUpdate(digest.get(), le.data(), samples * sizeof(quint32));
        }
        if (!meter.add(buffer.data(), frames))
            return fail(error, QStringLiteral("The loudness could not be measured."));
        result.frames += frames;
    }
    if (sf_error(file.get()) != SF_ERR_NO_ERROR) {
        return fail(error, QStringLiteral("The file could not be read to its end: %1.")
                               .arg(QString::fromUtf8(sf_strerror(file.get()))));
    }

    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int hashLength = 0;
    if (EVP_DigestFinal_ex(digest.get(), hash, &hashLength) != 1)
        return fail(error, QStringLiteral("The hash could not be finished."));
    result.audioHash = QByteArray(reinterpret_cast<const char*>(hash), int(hashLength));

    const std::optional<LoudnessMeter::Measures> measures = meter.measures();
    if (!measures) return fail(error, QStringLiteral("The loudness could not be measured."));
    result.integratedLufs = measures->integratedLufs;
    result.loudnessRangeLu = measures->loudnessRangeLu;
    result.samplePeak = measures->samplePeak;

    // A file rewritten or replaced meanwhile gives a mix of two files' audio,
    // or facts that belong to another file than the one now at the path.
    struct stat after {};
    if (::stat(name.constData(), &after) != 0 || !sameFile(before, after))
        return fail(error, QStringLiteral("The file changed while it was read."));
    result.fileSize = qint64(before.st_size);
    result.modifiedNs = modifiedNsOf(before);
    return result;
}

QString loudnessNumber(double lufs) {
    return std::isfinite(lufs) ? oneDecimal(lufs) : QStringLiteral("-inf");
}

QString loudnessRangeNumber(double lu) { return oneDecimal(std::isfinite(lu) ? lu : 0); }

QString peakNumber(double samplePeak) {
    return samplePeak > 0 ? oneDecimal(20 * std::log10(samplePeak)) : QStringLiteral("-inf");
}

QString formatLoudness(double lufs) { return loudnessNumber(lufs) + QStringLiteral(" LUFS"); }

QString formatPeak(double samplePeak) { return peakNumber(samplePeak) + QStringLiteral(" dBFS"); }

QString formatPeakDbfs(double dbfs) {
    return (std::isfinite(dbfs) ? oneDecimal(dbfs) : QStringLiteral("-inf")) +
           QStringLiteral(" dBFS");
}

QString formatLoudnessRange(double lu) { return loudnessRangeNumber(lu) + QStringLiteral(" LU"); }

}  // namespace kalvero::reconcile
