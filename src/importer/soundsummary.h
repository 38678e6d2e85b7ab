#pragma once

#include <QString>

struct SF_INFO;

namespace kalvero::importer {

// What a sound file's audio is, as far as its reader could tell. Numbers not
// known are 0 (frames: -1).
struct TechnicalFacts {
    // "WAV", "AIFF", "AIFC", "FLAC", "Ogg FLAC", "Ogg Vorbis", "Opus", "MP3", ...
    QString container;
    // "PCM", "IEEE float", "u-law", "A-law", "IMA ADPCM", "FLAC", "Vorbis", "Opus", "MPEG Layer
    // III", ...
    QString codec;
    int sampleRate = 0;
    // Bits per sample where the encoding keeps them (PCM, float, FLAC, u-law); 0 for the rest.
    int bitDepth = 0;
    int channels = 0;
    qint64 frames = -1;
    qint64 fileSize = -1;
    // Seconds since the epoch, UTC; -1 when not known.
    qint64 modified = -1;
};

// The one text both the catalogue and the player show for a sound: container,
// rate, bit depth where the encoding has one, channels and duration, e.g.
// "WAV 48000 Hz 24-bit stereo 0:03.25". Empty when nothing was read.
QString formatSummary(const TechnicalFacts& facts);

// A duration in seconds and hundredths: "0:03.25", or "1:02:03.25" from an hour on.
QString formatDuration(qint64 frames, int sampleRate);

// The facts libsndfile gives for an opened file (container named by its major format).
TechnicalFacts technicalFacts(const SF_INFO& info);

}  // namespace kalvero::importer
