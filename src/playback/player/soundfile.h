#pragma once

#include "playback/player/oggflacstream.h"

#include <sndfile.h>
#include <QByteArray>
#include <QString>
#include <memory>

namespace kalvero::player {

// One sound file opened for decoding with libsndfile. Frames are read as
// interleaved 32-bit floats, whatever the file holds.
class SoundFile {
public:
    ~SoundFile();
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // Opens `nativePath` (the path's bytes as the file system takes them).
    // On failure returns null and sets `reason` to a plain-words cause.
    static std::unique_ptr<SoundFile> open(const QByteArray& nativePath, QString& reason);

    int channels() const { return info_.channels; }
    // libsndfile's format code: the container and the encoding.
    int format() const { return info_.format; }
    int sampleRate() const { return info_.samplerate; }
    // The number of frames, or -1 when the file does not tell.
    sf_count_t frames() const;

    // Reads up to `frames` frames into `out`; fewer at the end or on a fault.
    sf_count_t readFrames(float* out, sf_count_t frames);
    // The same as whole numbers (left-justified in 32 bits) or doubles, so
    // that integer and double samples can be copied without any change.
    sf_count_t readFrames(int* out, sf_count_t frames);
    sf_count_t readFrames(double* out, sf_count_t frames);
    // The file's Broadcast WAV facts; false when it has none.
    bool broadcastInfo(SF_BROADCAST_INFO& info) const;
    // Moves the next read to `frame`; false when the file cannot seek there.
    bool seek(sf_count_t frame);
    // Why decoding stopped, when it stopped on a fault; empty otherwise.
    QString faultText() const;

    // The most channels the player sends to a sound device.
    static constexpr int kMaxChannels = 8;

private:
    SoundFile(SNDFILE* file, int fd, const SF_INFO& info) : file_(file), fd_(fd), info_(info) {}

    SNDFILE* file_;
    int fd_;
    SF_INFO info_;
    // Set for Ogg FLAC, which libsndfile reads from this rewrapped copy.
    std::unique_ptr<OggFlacStream> oggFlac_;
};

}  // namespace kalvero::player
