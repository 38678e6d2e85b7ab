#include "taggedsounds.h"

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>
#include <sndfile.h>
#include <taglib/fileref.h>
#include <taglib/id3v2tag.h>
#include <taglib/tpropertymap.h>
#include <taglib/wavfile.h>

#include <QFile>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

namespace kalvero::test {

namespace {

struct Tag {
    QString place;
    QString key;
    QString value;
};

QList<Tag> parseTags(const QStringList& tags) {
    QList<Tag> out;
    for (const QString& tag : tags) {
        const qsizetype colon = tag.indexOf(QLatin1Char(':'));
        const QString place = tag.left(colon);
        const QString rest = tag.mid(colon + 1);
        if (place.startsWith(QLatin1String("ixml"))) {
            out.append({place, QString(), rest});
            continue;
        }
        const qsizetype equals = rest.indexOf(QLatin1Char('='));
        out.append({place, rest.left(equals), rest.mid(equals + 1)});
    }
    return out;
}

std::vector<short> sine(int frames, int rate) {
    std::vector<short> samples(size_t(std::max(frames, 0)));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = short(12000 * std::sin(2 * std::numbers::pi * 440.0 * double(i) / rate));
    return samples;
}

// Silence, then noise: a variable bit rate encoder gives the first frames
// few bits and the last ones many, so the first frame's rate misleads.
std::vector<short> silenceThenNoise(int frames) {
    std::vector<short> samples(size_t(std::max(frames, 0)));
    quint32 state = 12345;
    for (size_t i = samples.size() / 2; i < samples.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        samples[i] = short(int(state >> 16) - 32768);
    }
    return samples;
}

QString writeWithSndfile(const QString& path, int format, int rate, int frames,
                         const QList<Tag>& tags) {
    SF_INFO info{};
    info.format = format;
    info.channels = 1;
    info.samplerate = rate;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    if (!file) return QString::fromLocal8Bit(sf_strerror(nullptr));
    if ((format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG) {
        int mode = SF_BITRATE_MODE_VARIABLE;
        sf_command(file, SFC_SET_BITRATE_MODE, &mode, sizeof mode);
    }
    SF_BROADCAST_INFO bext{};
    const std::pair<const char*, std::pair<char*, size_t>> fields[] = {
        {"DESCRIPTION", {bext.description, sizeof bext.description}},
        {"ORIGINATOR", {bext.originator, sizeof bext.originator}},
        {"ORIGINATORREFERENCE", {bext.originator_reference, sizeof bext.originator_reference}},
        {"DATE", {bext.origination_date, sizeof bext.origination_date}},
        {"TIME", {bext.origination_time, sizeof bext.origination_time}}};
    bool hasBext = false;
    for (const Tag& tag : tags) {
        for (const auto& [key, field] : fields) {
            if (tag.place != QLatin1String("bext") || tag.key != QLatin1String(key)) continue;
            const QByteArray bytes = tag.value.toUtf8();
            std::memcpy(field.first, bytes.constData(),
                        std::min(field.second, size_t(bytes.size())));
            hasBext = true;
        }
    }
    if (hasBext && sf_command(file, SFC_SET_BROADCAST_INFO, &bext, sizeof bext) != SF_TRUE) {
        sf_close(file);
        return QStringLiteral("libsndfile took no broadcast extension");
    }
    const std::vector<short> samples = (format & SF_FORMAT_TYPEMASK) == SF_FORMAT_MPEG
                                           ? silenceThenNoise(frames)
                                           : sine(frames, rate);
    sf_writef_short(file, samples.data(), frames);
    sf_close(file);
    return {};
}

// libFLAC writes the comments itself: TagLib 1.13 saves Ogg FLAC files it
// cannot read back.
QString writeOggFlac(const QString& path, int frames, const QList<Tag>& tags) {
    FLAC__StreamMetadata* comments = FLAC__metadata_object_new(FLAC__METADATA_TYPE_VORBIS_COMMENT);
    for (const Tag& tag : tags) {
        if (tag.place != QLatin1String("xiph")) continue;
        FLAC__StreamMetadata_VorbisComment_Entry entry{};
        const QByteArray key = tag.key.toUtf8(), value = tag.value.toUtf8();
        FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair(&entry, key.constData(),
                                                                       value.constData());
        FLAC__metadata_object_vorbiscomment_append_comment(comments, entry, false);
    }
    FLAC__StreamEncoder* encoder = FLAC__stream_encoder_new();
    FLAC__stream_encoder_set_metadata(encoder, &comments, 1);
    FLAC__stream_encoder_set_channels(encoder, 1);
    FLAC__stream_encoder_set_bits_per_sample(encoder, 16);
    FLAC__stream_encoder_set_sample_rate(encoder, 44100);
    QString fault;
    if (FLAC__stream_encoder_init_ogg_file(encoder, QFile::encodeName(path).constData(), nullptr,
                                           nullptr) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
        fault = QStringLiteral("libFLAC cannot write Ogg FLAC");
    } else {
        const std::vector<short> samples = sine(frames, 44100);
        std::vector<FLAC__int32> wide(samples.begin(), samples.end());
        FLAC__stream_encoder_process_interleaved(encoder, wide.data(), unsigned(frames));
        FLAC__stream_encoder_finish(encoder);
    }
    FLAC__stream_encoder_delete(encoder);
    FLAC__metadata_object_delete(comments);
    return fault;
}

// Removes the first frame when it is a Xing or Info frame (MPEG-1 Layer III).
QString dropXingFrame(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) return file.errorString();
    QByteArray bytes = file.readAll();
    if (bytes.size() < 4 || quint8(bytes[0]) != 0xff)
        return QStringLiteral("no frame at the start");
    static const int kbps[] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320};
    static const int rates[] = {44100, 48000, 32000};
    const int bitrate = kbps[(quint8(bytes[2]) >> 4) % 15] * 1000;
    const int rate = rates[(quint8(bytes[2]) >> 2 & 3) % 3];
    const int length = 144 * bitrate / rate + (quint8(bytes[2]) >> 1 & 1);
    const QByteArray first = bytes.left(length);
    if (!first.contains("Xing") && !first.contains("Info")) return QStringLiteral("no Xing frame");
    bytes.remove(0, length);
    file.resize(0);
    file.seek(0);
    file.write(bytes);
    return {};
}

TagLib::PropertyMap propertiesFor(const QList<Tag>& tags, const QString& place) {
    TagLib::PropertyMap map;
    for (const Tag& tag : tags)
        if (tag.place == place)
            map[TagLib::String(tag.key.toUtf8().constData(), TagLib::String::UTF8)].append(
                TagLib::String(tag.value.toUtf8().constData(), TagLib::String::UTF8));
    return map;
}

QString tagWithTagLib(const QString& path, SoundKind kind, const QList<Tag>& tags) {
    const bool wav = kind == SoundKind::Wav;
    const TagLib::PropertyMap properties =
        propertiesFor(tags, kind == SoundKind::Mp3 || kind == SoundKind::Mp3WithoutXing || wav
                                ? QStringLiteral("id3")
                                : QStringLiteral("xiph"));
    if (properties.isEmpty()) return {};
    const QByteArray name = QFile::encodeName(path);
    bool saved = false;
    if (wav) {
        // Through the ID3 tag only: the WAV file's own properties would write INFO too.
        TagLib::RIFF::WAV::File file(name.constData());
        file.ID3v2Tag()->setProperties(properties);
        saved = file.save();
    } else {
        TagLib::FileRef file(name.constData());
        saved = !file.isNull() && (file.file()->setProperties(properties), file.save());
    }
    return saved ? QString() : QStringLiteral("TagLib could not save the tags");
}

// Appends chunks to a RIFF (little-endian sizes) or AIFF (big-endian) file
// and corrects the size of the whole.
QString appendChunks(const QString& path, const QList<QPair<QByteArray, QByteArray>>& chunks,
                     bool bigEndian) {
    if (chunks.isEmpty()) return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) return file.errorString();
    QByteArray bytes = file.readAll();
    auto size32 = [bigEndian](quint32 n) {
        QByteArray b(4, '\0');
        if (bigEndian)
            qToBigEndian(n, b.data());
        else
            qToLittleEndian(n, b.data());
        return b;
    };
    for (const auto& [id, data] : chunks) {
        bytes += id + size32(quint32(data.size())) + data;
        if (data.size() % 2) bytes += '\0';
    }
    // RF64 keeps its size in ds64 and says 0xFFFFFFFF here.
    if (!bytes.startsWith("RF64")) bytes.replace(4, 4, size32(quint32(bytes.size() - 8)));
    file.seek(0);
    file.write(bytes);
    return {};
}

QByteArray infoChunk(const QList<Tag>& tags) {
    QByteArray info;
    for (const Tag& tag : tags) {
        if (tag.place != QLatin1String("info") && tag.place != QLatin1String("latin1")) continue;
        QByteArray text =
            (tag.place == QLatin1String("latin1") ? tag.value.toLatin1() : tag.value.toUtf8()) +
            '\0';
        QByteArray size(4, '\0');
        qToLittleEndian(quint32(text.size()), size.data());
        info += tag.key.toLatin1() + size + text;
        if (text.size() % 2) info += '\0';
    }
    return info.isEmpty() ? info : "INFO" + info;
}

}  // namespace

QString writeTaggedSound(const QString& path, SoundKind kind, const QStringList& tagTexts,
                         int frames) {
    const QList<Tag> tags = parseTags(tagTexts);
    QString fault;
    switch (kind) {
        case SoundKind::Wav:
            fault = writeWithSndfile(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, frames, tags);
            break;
        case SoundKind::Rf64:
            fault = writeWithSndfile(path, SF_FORMAT_RF64 | SF_FORMAT_PCM_16, 44100, frames, tags);
            break;
        case SoundKind::Aiff:
            fault = writeWithSndfile(path, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 44100, frames, tags);
            break;
        case SoundKind::Aifc:
            // libsndfile writes float AIFF as AIFC.
            fault = writeWithSndfile(path, SF_FORMAT_AIFF | SF_FORMAT_FLOAT, 44100, frames, tags);
            break;
        case SoundKind::Flac:
            fault = writeWithSndfile(path, SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 44100, frames, tags);
            break;
        case SoundKind::OggFlac:
            fault = writeOggFlac(path, frames, tags);
            break;
        case SoundKind::Vorbis:
            fault = writeWithSndfile(path, SF_FORMAT_OGG | SF_FORMAT_VORBIS, 44100, frames, tags);
            break;
        case SoundKind::Opus:
            fault = writeWithSndfile(path, SF_FORMAT_OGG | SF_FORMAT_OPUS, 48000, frames, tags);
            break;
        case SoundKind::Mp3:
        case SoundKind::Mp3WithoutXing:
            fault = writeWithSndfile(path, SF_FORMAT_MPEG | SF_FORMAT_MPEG_LAYER_III, 44100, frames,
                                     tags);
            if (fault.isEmpty() && kind == SoundKind::Mp3WithoutXing) fault = dropXingFrame(path);
            break;
    }
    if (fault.isEmpty() && kind != SoundKind::OggFlac) fault = tagWithTagLib(path, kind, tags);
    if (!fault.isEmpty()) return fault;
    const bool aiff = kind == SoundKind::Aiff || kind == SoundKind::Aifc;
    QList<QPair<QByteArray, QByteArray>> chunks;
    if (const QByteArray info = infoChunk(tags); !info.isEmpty()) chunks.append({"LIST", info});
    for (const Tag& tag : tags) {
        if (tag.place == QLatin1String("ixml")) chunks.append({"iXML", tag.value.toUtf8()});
        if (tag.place == QLatin1String("ixml-latin1"))
            chunks.append({"iXML", tag.value.toLatin1()});
        if (tag.place == QLatin1String("aiff"))
            chunks.append({tag.key.toLatin1().leftJustified(4, ' '), tag.value.toUtf8()});
    }
    return appendChunks(path, chunks, aiff);
}

}  // namespace kalvero::test
