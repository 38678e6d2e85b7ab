#pragma once

#include <QString>
#include <QStringList>

namespace kalvero::test {

enum class SoundKind { Wav, Rf64, Aiff, Aifc, Flac, OggFlac, Vorbis, Opus, Mp3, Mp3WithoutXing };

// Writes a short mono sine of `frames` frames (at 48000 Hz for Opus, 44100 Hz
// otherwise) with the tags given as "place:KEY=value":
//   bext:DESCRIPTION / ORIGINATOR / ORIGINATORREFERENCE / DATE / TIME  (libsndfile)
//   info:INAM, latin1:ICMT        a RIFF LIST INFO chunk, UTF-8 or Latin-1 bytes
//   ixml:<BWFXML>...</BWFXML>     an iXML chunk holding exactly that text
//   ixml-latin1:<?xml ...?>...    the same in Latin-1 bytes
//   aiff:NAME / AUTH / ANNO       AIFF text chunks
//   id3:TITLE / COMMENT / ...     ID3v2 frames (TagLib's property names)
//   xiph:TITLE / DESCRIPTION / ...Vorbis comments
// MP3 is written at a variable bit rate; Mp3WithoutXing drops the frame that
// tells its length, as many encoders never wrote one. Returns why the file
// could not be written, or an empty text.
QString writeTaggedSound(const QString& path, SoundKind kind, const QStringList& tags,
                         int frames = 4410);

}  // namespace kalvero::test
