#pragma once

#include "importer/soundsummary.h"

#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <array>

namespace kalvero::importer {

class SoundSource;

// Where a text in a sound file was written.
enum class TagSource {
    Id3v2,    // ID3v2 frames, by TagLib's property names: TITLE, COMMENT, ALBUM, KEYWORDS, ...
    Vorbis,   // Vorbis comments (FLAC, Ogg): TITLE, DESCRIPTION, COMMENT, ...
    Info,     // RIFF INFO: INAM, ICMT, IART, ...
    Aiff,     // AIFF text chunks: NAME, AUTH, ANNO, (c)
    Ixml,     // iXML, by group and field: USER/FXNAME, ASWG/CATID, ...
    Bext,     // the broadcast extension: DESCRIPTION, ORIGINATOR, ORIGINATIONDATE, ...
    Id3v1,    // the old ID3 tag at the end of an MP3: TITLE, COMMENT, ...
    Sndfile,  // what libsndfile read from formats TagLib does not know: TITLE, COMMENT, ...
    Count
};

// Every text a sound file holds, by where it was written and by the name it
// has there (in upper case). Texts are whole, with their line breaks and
// tabs; empty texts are not kept.
class EmbeddedTags {
public:
    void set(TagSource source, const QString& key, const QString& text);
    QString text(TagSource source, const QString& key) const;
    bool has(TagSource source) const { return !texts_[size_t(source)].isEmpty(); }
    const QHash<QString, QString>& all(TagSource source) const { return texts_[size_t(source)]; }

private:
    std::array<QHash<QString, QString>, size_t(TagSource::Count)> texts_;
};

// What kind of file the first bytes show.
enum class ContainerKind { Other, Wav, Rf64, Aiff, Aifc, Flac, OggFlac, OggVorbis, OggOpus, Mpeg };
ContainerKind sniffContainer(QByteArrayView head);

// Reads the file's tags with TagLib and its iXML and AIFF text chunks. For
// Ogg FLAC, which libsndfile does not read, the technical facts come from
// TagLib as well and are stored in `oggFlac` (its container stays empty when
// the stream cannot be read).
void readEmbeddedTags(const SoundSource& source, ContainerKind kind, EmbeddedTags& tags,
                      TechnicalFacts* oggFlac);

// An iXML document's fields, as "GROUP/FIELD" in upper case: "USER/CATID",
// "ASWG/CATID". A document that is not well-formed gives nothing.
QHash<QString, QString> parseIxml(QByteArrayView xml);

// A text as a tag holds it: up to its first NUL, without blanks and line
// breaks around it; those inside stay.
QString cleanTagText(QString text);
// Bytes of a text whose encoding is not declared: UTF-8 when they are valid
// UTF-8, Latin-1 otherwise.
QString decodeUndeclared(QByteArrayView bytes);

}  // namespace kalvero::importer
