#pragma once

#include <QByteArray>
#include <QString>

namespace kalvero::player {

// A stretch of a sound in frames: from `from` up to, not including, `to`.
struct FrameRange {
    qint64 from = 0;
    qint64 to = 0;
    bool isEmpty() const { return to <= from; }
    bool operator==(const FrameRange&) const = default;
};

// Where the regions dragged out of the player are written: a folder in the
// user's cache.
QString regionFolder();

// The region's file name: the source's name without its extension, then the
// start and end in seconds, "Door slam 0.50-1.25.wav". A very long name is
// shortened so that the file system takes it.
QString regionFileName(const QString& sourcePath, FrameRange range, int sampleRate);

// The WAV encoding that holds a source's samples as they decode: the same
// bit depth for PCM (8-bit as WAV's unsigned 8-bit), the same law for mu-law
// and A-law, 16-bit for the ADPCM kinds, and 32-bit float for what has no bit
// depth of its own (Vorbis, Opus, MP3).
int regionEncoding(int sourceFormat);

// Writes the frames `range` of the sound file `sourcePath` (the path's bytes)
// as a new WAV file in a folder of its own below `folder`: the source's rate,
// channels and bit depth, its samples unchanged, and a Broadcast WAV
// description naming the source file and the region. Returns the new file's
// path, or an empty text with `error` set in plain words. An earlier file of
// the same region is replaced as a whole, never overwritten in place.
QString writeRegionFile(const QByteArray& sourcePath, FrameRange range, const QString& folder,
                        QString& error);

}  // namespace kalvero::player
