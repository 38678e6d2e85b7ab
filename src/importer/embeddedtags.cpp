#include "importer/embeddedtags.h"

#include "importer/soundsource.h"

#include <taglib/aifffile.h>
#include <taglib/flacfile.h>
#include <taglib/id3v1tag.h>
#include <taglib/id3v2tag.h>
#include <taglib/infotag.h>
#include <taglib/mpegfile.h>
#include <taglib/oggflacfile.h>
#include <taglib/opusfile.h>
#include <taglib/taglib.h>
#include <taglib/tdebuglistener.h>
#include <taglib/tiostream.h>
#include <taglib/tpropertymap.h>
#include <taglib/vorbisfile.h>
#include <taglib/wavfile.h>
#include <taglib/xiphcomment.h>

#include <QBuffer>
#include <QStringDecoder>
#include <QXmlStreamReader>
#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <vector>

namespace kalvero::importer {

namespace {

// TagLib 2 counts offsets and sizes in types of its own.
#if TAGLIB_MAJOR_VERSION >= 2
using StreamOffset = TagLib::offset_t;
using StreamStart = TagLib::offset_t;
using StreamSize = size_t;
#else
using StreamOffset = long;
using StreamStart = unsigned long;
using StreamSize = unsigned long;
#endif

// A tag larger than this is damaged or hostile: TagLib would otherwise
// allocate whatever a chunk header claims.
constexpr qint64 kMaxTagBlock = 64 << 20;

// TagLib reads from our one opening of the file instead of opening it again.
class SourceStream final : public TagLib::IOStream {
public:
    explicit SourceStream(const SoundSource& source) : source_(source) {}

    TagLib::FileName name() const override { return source_.path().constData(); }
    TagLib::ByteVector readBlock(StreamSize length) override {
        const QByteArray bytes =
            source_.readAt(position_, std::min<qint64>(qint64(length), kMaxTagBlock));
        position_ += bytes.size();
        return TagLib::ByteVector(bytes.constData(), static_cast<unsigned int>(bytes.size()));
    }
    void writeBlock(const TagLib::ByteVector&) override {}
    void insert(const TagLib::ByteVector&, StreamStart, StreamSize) override {}
    void removeBlock(StreamStart, StreamSize) override {}
    bool readOnly() const override { return true; }
    bool isOpen() const override { return source_.isOpen(); }
    void seek(StreamOffset offset, Position from) override {
        const qint64 base = from == Current ? position_ : from == End ? source_.size() : 0;
        position_ = std::max<qint64>(0, base + qint64(offset));
    }
    StreamOffset tell() const override { return StreamOffset(position_); }
    StreamOffset length() override { return StreamOffset(source_.size()); }
    void truncate(StreamOffset) override {}

private:
    const SoundSource& source_;
    qint64 position_ = 0;
};

// RIFF INFO declares no encoding of its own: newer files hold UTF-8, many
// older ones Latin-1 (TagLib would take such bytes for broken UTF-8).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class InfoTextHandler final : public TagLib::RIFF::Info::StringHandler {
public:
    TagLib::String parse(const TagLib::ByteVector& data) const override {
        const QString text = decodeUndeclared(QByteArrayView(data.data(), qsizetype(data.size())));
        return TagLib::String(text.toUtf8().toStdString(), TagLib::String::UTF8);
    }
};
#pragma GCC diagnostic pop

class QuietListener final : public TagLib::DebugListener {
public:
    void printMessage(const TagLib::String&) override {}
};

void prepareTagLib() {
    static std::once_flag once;
    std::call_once(once, [] {
        static QuietListener quiet;
        TagLib::setDebugListener(&quiet);
        static InfoTextHandler info;
        TagLib::RIFF::Info::Tag::setStringHandler(&info);
    });
}

// Through UTF-8: TagLib keeps UTF-16 in a wchar_t string, whatever wchar_t's width.
QString toQString(const TagLib::String& s) { return QString::fromStdString(s.to8Bit(true)); }

QString joined(const TagLib::StringList& values) {
    QStringList texts;
    for (const TagLib::String& value : values) {
        const QString text = cleanTagText(toQString(value));
        if (!text.isEmpty()) texts << text;
    }
    return texts.join(QStringLiteral("; "));
}

void readId3v2(TagLib::ID3v2::Tag* tag, EmbeddedTags& tags) {
    if (!tag) return;
    const TagLib::PropertyMap properties = tag->properties();
    for (auto it = properties.begin(); it != properties.end(); ++it)
        tags.set(TagSource::Id3v2, toQString(it->first).toUpper(), joined(it->second));
    // The comment without a description, as players show it.
    tags.set(TagSource::Id3v2, QStringLiteral("COMMENT"), cleanTagText(toQString(tag->comment())));
}

void readId3v1(TagLib::ID3v1::Tag* tag, EmbeddedTags& tags) {
    if (!tag) return;
    tags.set(TagSource::Id3v1, QStringLiteral("TITLE"), cleanTagText(toQString(tag->title())));
    tags.set(TagSource::Id3v1, QStringLiteral("ARTIST"), cleanTagText(toQString(tag->artist())));
    tags.set(TagSource::Id3v1, QStringLiteral("ALBUM"), cleanTagText(toQString(tag->album())));
    tags.set(TagSource::Id3v1, QStringLiteral("COMMENT"), cleanTagText(toQString(tag->comment())));
    tags.set(TagSource::Id3v1, QStringLiteral("GENRE"), cleanTagText(toQString(tag->genre())));
    if (tag->year() > 0)
        tags.set(TagSource::Id3v1, QStringLiteral("DATE"), QString::number(tag->year()));
}

void readXiph(TagLib::Ogg::XiphComment* comment, EmbeddedTags& tags) {
    if (!comment) return;
    const TagLib::Ogg::FieldListMap& fields = comment->fieldListMap();
    for (auto it = fields.begin(); it != fields.end(); ++it)
        tags.set(TagSource::Vorbis, toQString(it->first).toUpper(), joined(it->second));
}

void readInfo(TagLib::RIFF::Info::Tag* tag, EmbeddedTags& tags) {
    if (!tag) return;
    const TagLib::RIFF::Info::FieldListMap fields = tag->fieldListMap();
    for (auto it = fields.begin(); it != fields.end(); ++it) {
        const QString id = QString::fromLatin1(it->first.data(), qsizetype(it->first.size()));
        tags.set(TagSource::Info, id.toUpper(), cleanTagText(toQString(it->second)));
    }
}

quint32 littleEndian32(const char* p) {
    return quint32(quint8(p[0])) | quint32(quint8(p[1])) << 8 | quint32(quint8(p[2])) << 16 |
           quint32(quint8(p[3])) << 24;
}

quint32 bigEndian32(const char* p) {
    return quint32(quint8(p[3])) | quint32(quint8(p[2])) << 8 | quint32(quint8(p[1])) << 16 |
           quint32(quint8(p[0])) << 24;
}

struct Chunk {
    std::array<char, 4> id;
    qint64 offset;
    qint64 size;
    bool is(const char* name) const { return std::memcmp(id.data(), name, 4) == 0; }
};

// The top-level chunks of a RIFF, RF64 or AIFF file. TagLib keeps its own
// list to itself, and it does not read iXML or AIFF's text chunks.
std::vector<Chunk> listChunks(const SoundSource& source, bool bigEndian) {
    constexpr int kMaxChunks = 4096;
    std::vector<Chunk> chunks;
    qint64 ds64DataSize = -1;
    qint64 at = 12;
    while (int(chunks.size()) < kMaxChunks && at + 8 <= source.size()) {
        char header[8];
        if (source.readAt(at, header, 8) != 8) break;
        const std::array<char, 4> id{header[0], header[1], header[2], header[3]};
        if (std::any_of(id.begin(), id.end(), [](char c) { return c < 0x20 || c > 0x7e; })) break;
        const Chunk probe{id, 0, 0};
        qint64 size = bigEndian ? bigEndian32(header + 4) : littleEndian32(header + 4);
        // RF64 keeps the real sizes of what outgrows 32 bits in its ds64 chunk.
        if (probe.is("ds64") && size >= 16) {
            char sizes[16];
            if (source.readAt(at + 8, sizes, 16) == 16)
                ds64DataSize =
                    qint64(littleEndian32(sizes + 8)) | qint64(littleEndian32(sizes + 12)) << 32;
        }
        if (size == 0xffffffff) {
            if (!probe.is("data") || ds64DataSize < 0) break;
            size = ds64DataSize;
        }
        size = std::min(size, source.size() - (at + 8));
        chunks.push_back({id, at + 8, size});
        at += 8 + size + (size & 1);
    }
    return chunks;
}

// Reads the iXML and AIFF text chunks; true when the file has chunks TagLib
// reads (RIFF INFO, ID3).
bool readChunkTexts(const SoundSource& source, ContainerKind kind, EmbeddedTags& tags) {
    const bool aiff = kind == ContainerKind::Aiff || kind == ContainerKind::Aifc;
    QStringList annotations;
    bool tagChunks = false;
    for (const Chunk& chunk : listChunks(source, aiff)) {
        if (chunk.is("LIST") || chunk.is("id3 ") || chunk.is("ID3 ")) tagChunks = true;
        if (!aiff && chunk.is("iXML")) {
            const QHash<QString, QString> fields =
                parseIxml(source.readAt(chunk.offset, chunk.size));
            for (auto it = fields.begin(); it != fields.end(); ++it)
                tags.set(TagSource::Ixml, it.key(), it.value());
        } else if (aiff &&
                   (chunk.is("NAME") || chunk.is("AUTH") || chunk.is("(c) ") || chunk.is("ANNO"))) {
            const QString text =
                cleanTagText(decodeUndeclared(source.readAt(chunk.offset, chunk.size)));
            const QString id = QString::fromLatin1(chunk.id.data(), 4);
            if (chunk.is("ANNO"))
                annotations << text;
            else if (tags.text(TagSource::Aiff, id).isEmpty())
                tags.set(TagSource::Aiff, id, text);
        }
    }
    annotations.removeAll(QString());
    tags.set(TagSource::Aiff, QStringLiteral("ANNO"), annotations.join(QLatin1Char('\n')));
    return tagChunks;
}

// The ID3v2 tag some files carry before their own start.
qint64 id3v2Length(QByteArrayView head) {
    if (head.size() < 10 || !head.startsWith("ID3")) return 0;
    qint64 size = 0;
    for (int i = 6; i < 10; ++i) size = size << 7 | (quint8(head[i]) & 0x7f);
    return 10 + size + ((quint8(head[5]) & 0x10) ? 10 : 0);
}

}  // namespace

void EmbeddedTags::set(TagSource source, const QString& key, const QString& text) {
    if (!text.isEmpty()) texts_[size_t(source)].insert(key, text);
}

QString EmbeddedTags::text(TagSource source, const QString& key) const {
    const QHash<QString, QString>& texts = texts_[size_t(source)];
    return texts.isEmpty() ? QString() : texts.value(key);
}

QString cleanTagText(QString text) {
    if (const qsizetype nul = text.indexOf(QChar(0)); nul >= 0) text.truncate(nul);
    return text.trimmed();
}

QString decodeUndeclared(QByteArrayView bytes) {
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8(bytes);
    return utf8.hasError() ? QString::fromLatin1(bytes) : text;
}

ContainerKind sniffContainer(QByteArrayView head) {
    if (head.size() >= 12 && head.sliced(8, 4) == "WAVE") {
        if (head.startsWith("RIFF")) return ContainerKind::Wav;
        if (head.startsWith("RF64") || head.startsWith("BW64")) return ContainerKind::Rf64;
    }
    if (head.size() >= 12 && head.startsWith("FORM")) {
        if (head.sliced(8, 4) == "AIFF") return ContainerKind::Aiff;
        if (head.sliced(8, 4) == "AIFC") return ContainerKind::Aifc;
    }
    if (head.startsWith("OggS") && head.size() >= 27) {
        // The first packet of the first page names the codec.
        const qsizetype packet = 27 + quint8(head[26]);
        const QByteArrayView first = head.sliced(std::min(packet, head.size()));
        if (first.startsWith("\x7f"
                             "FLAC"))
            return ContainerKind::OggFlac;
        if (first.startsWith("\x01vorbis")) return ContainerKind::OggVorbis;
        if (first.startsWith("OpusHead")) return ContainerKind::OggOpus;
        return ContainerKind::Other;
    }
    const qint64 skip = id3v2Length(head);
    if (skip < head.size() && head.sliced(skip).startsWith("fLaC")) return ContainerKind::Flac;
    if (skip > 0) return ContainerKind::Mpeg;
    if (head.size() >= 2 && quint8(head[0]) == 0xff && (quint8(head[1]) & 0xe0) == 0xe0)
        return ContainerKind::Mpeg;
    return ContainerKind::Other;
}

void readEmbeddedTags(const SoundSource& source, ContainerKind kind, EmbeddedTags& tags,
                      TechnicalFacts* oggFlac) {
    prepareTagLib();
    SourceStream stream(source);
    switch (kind) {
        case ContainerKind::Wav: {
            // Most WAV files hold no INFO or ID3 chunk: TagLib, which costs as
            // much as libsndfile's whole opening, is asked only when one is there.
            if (readChunkTexts(source, kind, tags)) {
                TagLib::RIFF::WAV::File file(&stream, false);
                if (file.isValid()) {
                    if (file.hasInfoTag()) readInfo(file.InfoTag(), tags);
                    if (file.hasID3v2Tag()) readId3v2(file.ID3v2Tag(), tags);
                }
            }
            break;
        }
        case ContainerKind::Rf64:
            readChunkTexts(source, kind, tags);
            break;
        case ContainerKind::Aiff:
        case ContainerKind::Aifc: {
            TagLib::RIFF::AIFF::File file(&stream, false);
            if (file.isValid() && file.hasID3v2Tag()) readId3v2(file.tag(), tags);
            readChunkTexts(source, kind, tags);
            break;
        }
        case ContainerKind::Flac: {
#if TAGLIB_MAJOR_VERSION >= 2
            TagLib::FLAC::File file(&stream, false);
#else
            TagLib::FLAC::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
#endif
            if (!file.isValid()) break;
            if (file.hasXiphComment()) readXiph(file.xiphComment(), tags);
            if (file.hasID3v2Tag()) readId3v2(file.ID3v2Tag(), tags);
            if (file.hasID3v1Tag()) readId3v1(file.ID3v1Tag(), tags);
            break;
        }
        case ContainerKind::OggFlac: {
            TagLib::Ogg::FLAC::File file(&stream, true);
            if (!file.isValid()) break;
            readXiph(file.tag(), tags);
            const TagLib::FLAC::Properties* properties = file.audioProperties();
            if (oggFlac && properties && properties->sampleRate() > 0 &&
                properties->channels() > 0) {
                oggFlac->container = QStringLiteral("Ogg FLAC");
                oggFlac->codec = QStringLiteral("FLAC");
                oggFlac->sampleRate = properties->sampleRate();
                oggFlac->channels = properties->channels();
                oggFlac->bitDepth = properties->bitsPerSample();
                oggFlac->frames = qint64(properties->sampleFrames());
            }
            break;
        }
        case ContainerKind::OggVorbis: {
            TagLib::Ogg::Vorbis::File file(&stream, false);
            if (file.isValid()) readXiph(file.tag(), tags);
            break;
        }
        case ContainerKind::OggOpus: {
            TagLib::Ogg::Opus::File file(&stream, false);
            if (file.isValid()) readXiph(file.tag(), tags);
            break;
        }
        case ContainerKind::Mpeg: {
#if TAGLIB_MAJOR_VERSION >= 2
            TagLib::MPEG::File file(&stream, false);
#else
            TagLib::MPEG::File file(&stream, TagLib::ID3v2::FrameFactory::instance(), false);
#endif
            if (!file.isValid()) break;
            if (file.hasID3v2Tag()) readId3v2(file.ID3v2Tag(), tags);
            if (file.hasID3v1Tag()) readId3v1(file.ID3v1Tag(), tags);
            break;
        }
        case ContainerKind::Other:
            break;
    }
}

QHash<QString, QString> parseIxml(QByteArrayView xml) {
    // Writers pad the chunk after the document with NULs.
    if (const qsizetype nul = xml.indexOf('\0'); nul >= 0) xml = xml.first(nul);
    // Read from a device, so that the encoding the document declares is the one used.
    QBuffer buffer;
    buffer.setData(xml.toByteArray());
    buffer.open(QIODevice::ReadOnly);
    QXmlStreamReader reader(&buffer);
    QHash<QString, QString> fields;
    QStringList path;
    QString text;
    bool leaf = false;
    while (!reader.atEnd()) {
        switch (reader.readNext()) {
            case QXmlStreamReader::StartElement:
                path << reader.name().toString().toUpper();
                text.clear();
                leaf = true;
                break;
            case QXmlStreamReader::Characters:
                text += reader.text();
                break;
            case QXmlStreamReader::EndElement: {
                // The fields of the groups below the root: <BWFXML><USER><CATID>.
                if (leaf && path.size() == 3) {
                    const QString key = path[1] + QLatin1Char('/') + path[2];
                    const QString value = cleanTagText(text);
                    if (!value.isEmpty() && !fields.contains(key)) fields.insert(key, value);
                }
                if (!path.isEmpty()) path.removeLast();
                text.clear();
                leaf = false;
                break;
            }
            default:
                break;
        }
    }
    if (reader.hasError()) return {};
    return fields;
}

}  // namespace kalvero::importer
