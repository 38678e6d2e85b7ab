#include "soundfixtures.h"

#include <sndfile.h>
#include <QFile>
#include <algorithm>
#include <cmath>
#include <numbers>

namespace kalvero::test {

QString writeSine(const QString& path, const SoundSpec& shape, bool* unsupported) {
    if (unsupported) *unsupported = false;
    SF_INFO info{};
    info.samplerate = shape.sampleRate;
    info.channels = shape.channels;
    info.format = shape.format;
    if (!sf_format_check(&info)) {
        if (unsupported) *unsupported = true;
        return QStringLiteral("this libsndfile cannot write format 0x%1 with %2 channels at %3 Hz")
            .arg(shape.format, 0, 16)
            .arg(shape.channels)
            .arg(shape.sampleRate);
    }
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return QString::fromLocal8Bit(sf_strerror(nullptr));
    QVector<float> samples(static_cast<qsizetype>(shape.frames) * shape.channels);
    for (int f = 0; f < shape.frames; ++f) {
        for (int c = 0; c < shape.channels; ++c) {
            const double pitch = 330.0 * (c + 1);
            const double t = static_cast<double>(f) / shape.sampleRate;
            samples[static_cast<qsizetype>(f) * shape.channels + c] =
                static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * pitch * t + 0.7 + c));
        }
    }
    const sf_count_t written = sf_writef_float(file, samples.constData(), shape.frames);
    const QString fault =
        written == shape.frames ? QString() : QString::fromLocal8Bit(sf_strerror(file));
    if (sf_close(file) != 0 && fault.isEmpty()) return QStringLiteral("closing the file failed");
    return fault;
}

QVector<float> decodeAll(const QString& path, int* channels) {
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_READ, &info);
    if (!file) return {};
    if (channels) *channels = info.channels;
    QVector<float> all;
    QVector<float> block(4096 * info.channels);
    for (;;) {
        const sf_count_t got = sf_readf_float(file, block.data(), 4096);
        if (got <= 0) break;
        const qsizetype count = static_cast<qsizetype>(got) * info.channels;
        const qsizetype before = all.size();
        all.resize(before + count);
        std::copy_n(block.constData(), count, all.data() + before);
    }
    sf_close(file);
    return all;
}

double rootMeanSquare(const QVector<float>& samples) {
    if (samples.isEmpty()) return 0;
    double sum = 0;
    for (float s : samples) sum += static_cast<double>(s) * s;
    return std::sqrt(sum / static_cast<double>(samples.size()));
}

}  // namespace kalvero::test
