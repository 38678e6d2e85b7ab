#include "playback/player/regionfile.h"

#include "playback/player/soundfile.h"

#include <sndfile.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace kalvero::player {

namespace {

constexpr sf_count_t kBlockFrames = 65536;
// The longest file name most file systems take, less the room the partial
// file's name needs.
constexpr qsizetype kLongestName = 255 - 7;

QString seconds(qint64 frame, int rate) {
    return QString::number(static_cast<double>(frame) / rate, 'f', 2);
}

// Copies text into a fixed field of the bext chunk: cut at a character's
// boundary, never in the middle of one.
template <size_t N>
void setField(char (&field)[N], const QString& text) {
    QString cut = text;
    while (cut.toUtf8().size() > qsizetype(N)) {
        cut.chop(1);
        if (!cut.isEmpty() && cut.back().isHighSurrogate()) cut.chop(1);
    }
    const QByteArray bytes = cut.toUtf8();
    std::memset(field, 0, N);
    std::memcpy(field, bytes.constData(), static_cast<size_t>(bytes.size()));
}

QString libraryError(SNDFILE* file) {
    QString text = QString::fromLocal8Bit(sf_strerror(file)).trimmed();
    while (text.endsWith(QLatin1Char('.'))) text.chop(1);
    return text;
}

template <typename Sample>
QString copyFrames(SoundFile& source, SNDFILE* out, qint64 frames,
                   sf_count_t (*write)(SNDFILE*, const Sample*, sf_count_t)) {
    std::vector<Sample> block(static_cast<size_t>(kBlockFrames) *
                              static_cast<size_t>(source.channels()));
    while (frames > 0) {
        const sf_count_t want = std::min<qint64>(frames, kBlockFrames);
        const sf_count_t got = source.readFrames(block.data(), want);
        if (got != want) {
            const QString fault = source.faultText();
            return fault.isEmpty()
                       ? QStringLiteral("the sound file ended before the region did")
                       : QStringLiteral("the sound file could not be read (%1)").arg(fault);
        }
        if (write(out, block.data(), got) != got)
            return QStringLiteral("the region could not be written (%1)").arg(libraryError(out));
        frames -= got;
    }
    return {};
}

SF_BROADCAST_INFO describe(const SoundFile& source, const QString& sourcePath, FrameRange range) {
    SF_BROADCAST_INFO info{};
    SF_BROADCAST_INFO own{};
    const bool hasOwn = source.broadcastInfo(own);
    const int rate = source.sampleRate();
    const QString region = QStringLiteral("Region %1-%2 s of ")
                               .arg(seconds(range.from, rate), seconds(range.to, rate));
    // The whole path when it fits, else at least the file's name.
    QString description = region + sourcePath;
    if (description.toUtf8().size() > qsizetype(sizeof info.description))
        description = region + QFileInfo(sourcePath).fileName();
    setField(info.description, description);
    setField(info.originator, QStringLiteral("KZW4"));
    const QDateTime now = QDateTime::currentDateTime();
    setField(info.origination_date, now.toString(QStringLiteral("yyyy-MM-dd")));
    setField(info.origination_time, now.toString(QStringLiteral("HH:mm:ss")));
    // The region's first sample counted as the source counts its own.
    quint64 reference = static_cast<quint64>(range.from);
    if (hasOwn)
        reference += (quint64(own.time_reference_high) << 32) | quint64(own.time_reference_low);
    info.time_reference_low = static_cast<unsigned int>(reference & 0xffffffffu);
    info.time_reference_high = static_cast<unsigned int>(reference >> 32);
    return info;
}

}  // namespace

QString regionFolder() {
    QString cache = QStandardPaths::writableLocation(QStandardPaths::CacheLocation);
    if (cache.isEmpty())
        cache = QDir::temp().filePath(QStringLiteral("KZW4-cache-%1").arg(::getuid()));
    return QDir(cache).filePath(QStringLiteral("regions"));
}

QString regionFileName(const QString& sourcePath, FrameRange range, int sampleRate) {
    const QFileInfo source(sourcePath);
    QString base = source.completeBaseName();
    if (base.isEmpty()) base = source.fileName();
    if (base.isEmpty()) base = QStringLiteral("region");
    const QString tail = QStringLiteral(" %1-%2.wav")
                             .arg(seconds(range.from, sampleRate), seconds(range.to, sampleRate));
    while (!base.isEmpty() && QFile::encodeName(base + tail).size() > kLongestName) {
        base.chop(1);
        if (!base.isEmpty() && base.back().isHighSurrogate()) base.chop(1);
    }
    return base + tail;
}

int regionEncoding(int sourceFormat) {
    switch (sourceFormat & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
        case SF_FORMAT_DPCM_8:
            return SF_FORMAT_PCM_U8;
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_DPCM_16:
        case SF_FORMAT_DWVW_12:
        case SF_FORMAT_DWVW_16:
        case SF_FORMAT_ALAC_16:
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM:
        case SF_FORMAT_VOX_ADPCM:
        case SF_FORMAT_NMS_ADPCM_16:
        case SF_FORMAT_NMS_ADPCM_24:
        case SF_FORMAT_NMS_ADPCM_32:
        case SF_FORMAT_GSM610:
        case SF_FORMAT_G721_32:
        case SF_FORMAT_G723_24:
        case SF_FORMAT_G723_40:
            return SF_FORMAT_PCM_16;
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_DWVW_24:
        case SF_FORMAT_ALAC_20:
        case SF_FORMAT_ALAC_24:
            return SF_FORMAT_PCM_24;
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_ALAC_32:
            return SF_FORMAT_PCM_32;
        case SF_FORMAT_ULAW:
            return SF_FORMAT_ULAW;
        case SF_FORMAT_ALAW:
            return SF_FORMAT_ALAW;
        case SF_FORMAT_DOUBLE:
            return SF_FORMAT_DOUBLE;
        default:
            return SF_FORMAT_FLOAT;
    }
}

QString writeRegionFile(const QByteArray& sourcePath, FrameRange range, const QString& folder,
                        QString& error) {
    error.clear();
    std::unique_ptr<SoundFile> source = SoundFile::open(sourcePath, error);
    if (!source) return {};
    if (source->frames() >= 0) range.to = std::min<qint64>(range.to, source->frames());
    range.from = std::max<qint64>(0, range.from);
    if (range.isEmpty()) {
        error = QStringLiteral("the region holds no sound");
        return {};
    }
    if (!source->seek(range.from)) {
        error = QStringLiteral("the sound file cannot be read from the region's start");
        return {};
    }

    const QString sourceText = QFileInfo(QFile::decodeName(sourcePath)).absoluteFilePath();
    // Each source has a folder of its own, so two sounds of the same name in
    // different folders keep their regions apart.
    const QString key = QString::fromLatin1(
        QCryptographicHash::hash(QFile::encodeName(sourceText), QCryptographicHash::Sha1)
            .toHex()
            .left(16));
    const QDir dir(QDir(folder).filePath(key));
    if (!QDir().mkpath(dir.path())) {
        error = QStringLiteral("the folder %1 cannot be made").arg(dir.path());
        return {};
    }
    const QString name = regionFileName(sourceText, range, source->sampleRate());
    const QString target = dir.filePath(name);
    const QString partial = dir.filePath(QLatin1Char('.') + name + QLatin1String(".part"));

    SF_INFO info{};
    info.samplerate = source->sampleRate();
    info.channels = source->channels();
    info.format = SF_FORMAT_WAV | regionEncoding(source->format());
    SNDFILE* out = sf_open(QFile::encodeName(partial).constData(), SFM_WRITE, &info);
    if (!out) {
        error = QStringLiteral("%1 cannot be written (%2)").arg(partial, libraryError(nullptr));
        return {};
    }
    SF_BROADCAST_INFO bext = describe(*source, sourceText, range);
    if (sf_command(out, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE)
        error = QStringLiteral("the description could not be added (%1)").arg(libraryError(out));
    const qint64 frames = range.to - range.from;
    if (error.isEmpty()) {
        switch (info.format & SF_FORMAT_SUBMASK) {
            case SF_FORMAT_FLOAT:
                error = copyFrames<float>(*source, out, frames, &sf_writef_float);
                break;
            case SF_FORMAT_DOUBLE:
                error = copyFrames<double>(*source, out, frames, &sf_writef_double);
                break;
            default:
                error = copyFrames<int>(*source, out, frames, &sf_writef_int);
        }
    }
    if (sf_close(out) != 0 && error.isEmpty())
        error = QStringLiteral("%1 could not be finished").arg(partial);
    // Renamed into place only when whole: a program that reads the earlier
    // file of this region never sees half of a new one.
    if (error.isEmpty() && std::rename(QFile::encodeName(partial).constData(),
                                       QFile::encodeName(target).constData()) != 0)
        error = QStringLiteral("%1 cannot be written").arg(target);
    if (!error.isEmpty()) {
        QFile::remove(partial);
        return {};
    }
    return target;
}

}  // namespace kalvero::player
