#include "importer/soundsummary.h"

#include <sndfile.h>

#include <algorithm>

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
    QString codec;
    int bits;
};

Encoding encodingOf(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return {QStringLiteral("PCM"), 8};
        case SF_FORMAT_PCM_16:
            return {QStringLiteral("PCM"), 16};
        case SF_FORMAT_PCM_24:
            return {QStringLiteral("PCM"), 24};
        case SF_FORMAT_PCM_32:
            return {QStringLiteral("PCM"), 32};
        case SF_FORMAT_FLOAT:
            return {QStringLiteral("IEEE float"), 32};
        case SF_FORMAT_DOUBLE:
            return {QStringLiteral("IEEE float"), 64};
        case SF_FORMAT_ULAW:
            return {QStringLiteral("u-law"), 8};
        case SF_FORMAT_ALAW:
            return {QStringLiteral("A-law"), 8};
        case SF_FORMAT_IMA_ADPCM:
            return {QStringLiteral("IMA ADPCM"), 0};
        case SF_FORMAT_MS_ADPCM:
            return {QStringLiteral("MS ADPCM"), 0};
        case SF_FORMAT_GSM610:
            return {QStringLiteral("GSM 6.10"), 0};
        case SF_FORMAT_VORBIS:
            return {QStringLiteral("Vorbis"), 0};
        case SF_FORMAT_OPUS:
            return {QStringLiteral("Opus"), 0};
        case SF_FORMAT_MPEG_LAYER_I:
            return {QStringLiteral("MPEG Layer I"), 0};
        case SF_FORMAT_MPEG_LAYER_II:
            return {QStringLiteral("MPEG Layer II"), 0};
        case SF_FORMAT_MPEG_LAYER_III:
            return {QStringLiteral("MPEG Layer III"), 0};
        default:
            return {QString(), 0};
    }
}

// Both are built for every imported file: written into a buffer by hand
// (printf's format parsing would cost more than the rest of the text).
char* put(char* out, const char* text) {
    while (*text) *out++ = *text++;
    return out;
}

char* putNumber(char* out, qint64 n, int minDigits = 1) {
    char digits[24];
    int count = 0;
    do {
        digits[count++] = char('0' + n % 10);
        n /= 10;
    } while (n > 0 || count < minDigits);
    while (count > 0) *out++ = digits[--count];
    return out;
}

char* putDuration(char* out, qint64 frames, int sampleRate) {
    const qint64 hundredths = frames * 100 / sampleRate;
    const qint64 seconds = hundredths / 100;
    if (seconds >= 3600) {
        out = putNumber(out, seconds / 3600);
        *out++ = ':';
        out = putNumber(out, (seconds / 60) % 60, 2);
    } else {
        out = putNumber(out, seconds / 60);
    }
    *out++ = ':';
    out = putNumber(out, seconds % 60, 2);
    *out++ = '.';
    return putNumber(out, hundredths % 100, 2);
}

}  // namespace

QString formatDuration(qint64 frames, int sampleRate) {
    if (sampleRate <= 0 || frames < 0) return {};
    char text[64];
    const char* end = putDuration(text, frames, sampleRate);
    return QString::fromLatin1(text, end - text);
}

QString formatSummary(const TechnicalFacts& facts) {
    if (facts.container.isEmpty()) return {};
    char tail[160];
    char* out = put(tail, " ");
    out = put(putNumber(out, std::max(facts.sampleRate, 0)), " Hz");
    // FLAC keeps its samples' width; lossy encodings have none to tell.
    if (facts.bitDepth > 0) {
        out = put(putNumber(put(out, " "), facts.bitDepth), "-bit");
        if (facts.codec == QLatin1String("IEEE float")) out = put(out, " float");
        if (facts.codec == QLatin1String("u-law")) out = put(out, " u-law");
        if (facts.codec == QLatin1String("A-law")) out = put(out, " A-law");
    }
    if (facts.channels == 1)
        out = put(out, " mono");
    else if (facts.channels == 2)
        out = put(out, " stereo");
    else
        out = put(putNumber(put(out, " "), std::max(facts.channels, 0)), " channels");
    if (facts.sampleRate > 0 && facts.frames >= 0)
        out = putDuration(put(out, " "), facts.frames, facts.sampleRate);
    return facts.container + QLatin1String(tail, out - tail);
}

TechnicalFacts technicalFacts(const SF_INFO& info) {
    TechnicalFacts facts;
    facts.container = containerName(info.format);
    const Encoding encoding = encodingOf(info.format);
    facts.codec = encoding.codec;
    if ((info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC) facts.codec = QStringLiteral("FLAC");
    facts.bitDepth = encoding.bits;
    facts.sampleRate = info.samplerate;
    facts.channels = info.channels;
    // libsndfile reports an unknown length as the largest count.
    facts.frames = info.frames >= 0 && info.frames < SF_COUNT_MAX ? info.frames : -1;
    return facts;
}

}  // namespace kalvero::importer
