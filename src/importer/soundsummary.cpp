#include "importer/soundsummary.h"

#include <sndfile.h>

#include <QStringList>

namespace kalvero::importer {

namespace {

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

struct Encoding {
    const char* codec;
    int bits;
};

Encoding encodingOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return {"PCM", 8};
        case SF_FORMAT_PCM_16:
            return {"PCM", 16};
        case SF_FORMAT_PCM_24:
            return {"PCM", 24};
        case SF_FORMAT_PCM_32:
            return {"PCM", 32};
        case SF_FORMAT_FLOAT:
            return {"IEEE float", 32};
        case SF_FORMAT_DOUBLE:
            return {"IEEE float", 64};
        case SF_FORMAT_ULAW:
            return {"u-law", 8};
        case SF_FORMAT_ALAW:
            return {"A-law", 8};
        case SF_FORMAT_IMA_ADPCM:
            return {"IMA ADPCM", 0};
        case SF_FORMAT_MS_ADPCM:
            return {"MS ADPCM", 0};
        case SF_FORMAT_GSM610:
            return {"GSM 6.10", 0};
        case SF_FORMAT_VORBIS:
            return {"Vorbis", 0};
        case SF_FORMAT_OPUS:
            return {"Opus", 0};
        case SF_FORMAT_MPEG_LAYER_I:
            return {"MPEG Layer I", 0};
        case SF_FORMAT_MPEG_LAYER_II:
            return {"MPEG Layer II", 0};
        case SF_FORMAT_MPEG_LAYER_III:
            return {"MPEG Layer III", 0};
        default:
            return {"", 0};
    }
}

QString channelText(int channels) {
    if (channels == 1) return QStringLiteral("mono");
    if (channels == 2) return QStringLiteral("stereo");
    return QStringLiteral("%1 channels").arg(channels);
}

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

QString formatSummary(const TechnicalFacts& facts) {
    if (facts.container.isEmpty()) return {};
    QStringList parts{facts.container, QStringLiteral("%1 Hz").arg(facts.sampleRate)};
    // FLAC keeps its samples' width; lossy encodings have none to tell.
    if (facts.bitDepth > 0) {
        QString depth = QStringLiteral("%1-bit").arg(facts.bitDepth);
        if (facts.codec == QLatin1String("IEEE float")) depth += QStringLiteral(" float");
        if (facts.codec == QLatin1String("u-law") || facts.codec == QLatin1String("A-law"))
            depth += QLatin1Char(' ') + facts.codec;
        parts << depth;
    }
    parts << channelText(facts.channels);
    if (const QString duration = formatDuration(facts.frames, facts.sampleRate);
        !duration.isEmpty())
        parts << duration;
    return parts.join(QLatin1Char(' '));
}

TechnicalFacts technicalFacts(const SF_INFO& info) {
    TechnicalFacts facts;
    facts.container = containerName(info.format);
    const Encoding encoding = encodingOf(info.format);
    facts.codec = QString::fromLatin1(encoding.codec);
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) facts.codec = QStringLiteral("FLAC");
    facts.bitDepth = encoding.bits;
    facts.sampleRate = info.samplerate;
    facts.channels = info.channels;
    // libsndfile reports an unknown length as the largest count.
    facts.frames = info.frames >= 0 && info.frames < SF_COUNT_MAX ? info.frames : -1;
    return facts;
}

}  // namespace kalvero::importer
