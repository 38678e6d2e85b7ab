#include "playback/player/oggflacstream.h"

#include <ogg/ogg.h>

#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kalvero::player {

namespace {

// The first packet of an Ogg FLAC stream: 0x7F "FLAC", the mapping's version
// (two bytes) and the count of header packets (two), then the native stream's
// "fLaC" and its STREAMINFO block.
constexpr int kMappingHeaderBytes = 9;

bool isFirstFlacPacket(const ogg_packet& packet) {
    return packet.bytes > kMappingHeaderBytes + 4 &&
           std::memcmp(packet.packet,
                       "\x7f"
                       "FLAC",
                       5) == 0 &&
           std::memcmp(packet.packet + kMappingHeaderBytes, "fLaC", 4) == 0;
}

}  // namespace

std::unique_ptr<OggFlacStream> OggFlacStream::fromFile(int fd) {
    // Anything else would be searched to its end for an Ogg page.
    char magic[4];
    if (::pread(fd, magic, sizeof magic, 0) != sizeof magic || std::memcmp(magic, "OggS", 4) != 0)
        return nullptr;
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    ogg_stream_state stream{};
    bool streaming = false;
    QByteArray flac;
    off_t offset = 0;
    bool ended = false;
    while (!ended) {
        char* buffer = ogg_sync_buffer(&sync, 65536);
        ssize_t got = 0;
        do {
            got = ::pread(fd, buffer, 65536, offset);
        } while (got < 0 && errno == EINTR);
        if (got <= 0) break;
        offset += got;
        ogg_sync_wrote(&sync, long(got));
        ogg_page page;
        while (!ended && ogg_sync_pageout(&sync, &page) == 1) {
            if (!streaming) {
                // The first page's stream is the one played; others are left out.
                ogg_stream_init(&stream, ogg_page_serialno(&page));
                streaming = true;
            }
            if (ogg_stream_pagein(&stream, &page) != 0) continue;
            ogg_packet packet;
            while (ogg_stream_packetout(&stream, &packet) == 1) {
                if (flac.isEmpty()) {
                    if (!isFirstFlacPacket(packet)) {
                        ended = true;
                        break;
                    }
                    flac.append(reinterpret_cast<const char*>(packet.packet) + kMappingHeaderBytes,
                                qsizetype(packet.bytes - kMappingHeaderBytes));
                } else {
                    flac.append(reinterpret_cast<const char*>(packet.packet),
                                qsizetype(packet.bytes));
                }
            }
        }
    }
    if (streaming) ogg_stream_clear(&stream);
    ogg_sync_clear(&sync);
    if (flac.isEmpty()) return nullptr;
    return std::unique_ptr<OggFlacStream>(new OggFlacStream(std::move(flac)));
}

SNDFILE* OggFlacStream::open(SF_INFO& info) {
    io_.get_filelen = [](void* data) -> sf_count_t {
        return static_cast<OggFlacStream*>(data)->flac_.size();
    };
    io_.seek = [](sf_count_t offset, int whence, void* data) -> sf_count_t {
        OggFlacStream& s = *static_cast<OggFlacStream*>(data);
        const sf_count_t base = whence == SEEK_CUR   ? s.position_
                                : whence == SEEK_END ? s.flac_.size()
                                                     : 0;
        s.position_ = std::clamp<sf_count_t>(base + offset, 0, s.flac_.size());
        return s.position_;
    };
    io_.read = [](void* out, sf_count_t count, void* data) -> sf_count_t {
        OggFlacStream& s = *static_cast<OggFlacStream*>(data);
        const sf_count_t n = std::clamp<sf_count_t>(s.flac_.size() - s.position_, 0, count);
        std::memcpy(out, s.flac_.constData() + s.position_, size_t(n));
        s.position_ += n;
        return n;
    };
    io_.write = [](const void*, sf_count_t, void*) -> sf_count_t { return 0; };
    io_.tell = [](void* data) -> sf_count_t {
        return static_cast<OggFlacStream*>(data)->position_;
    };
    position_ = 0;
    return sf_open_virtual(&io_, SFM_READ, &info, this);
}

}  // namespace kalvero::player
