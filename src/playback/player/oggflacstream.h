#pragma once

#include <sndfile.h>

#include <QByteArray>
#include <memory>

namespace kalvero::player {

// An Ogg FLAC stream rewrapped as the native FLAC stream libsndfile decodes:
// libsndfile reads FLAC only outside Ogg. The stream's packets are the native
// stream's metadata blocks and frames, so the rewrapped stream is its
// "fLaC" marker and the packets in order; it is kept in memory, about the
// size of the file.
class OggFlacStream {
public:
    // The rewrapped stream of the file open at `fd` (read from its start, the
    // descriptor's position untouched); null when it holds no Ogg FLAC.
    static std::unique_ptr<OggFlacStream> fromFile(int fd);

    // Opens the stream with libsndfile; it must outlive the returned handle.
    SNDFILE* open(SF_INFO& info);

private:
    explicit OggFlacStream(QByteArray flac) : flac_(std::move(flac)) {}

    QByteArray flac_;
    sf_count_t position_ = 0;
    SF_VIRTUAL_IO io_{};
};

}  // namespace kalvero::player
