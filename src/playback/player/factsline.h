#pragma once

#include "playback/player/peaks.h"

#include <QString>
#include <optional>

namespace kalvero::importer {
struct SoundInfo;
}

namespace kalvero::player {

// What the player shows under the waveform about the file it plays: its
// title, its description (a long one shortened), its UCS category, creator
// and library on one line, and the loudness and sample peak it measured, in
// the units the catalogue's tooltip and kalvero-cli info use. Empty when
// there is none of these.
QString factsLine(const importer::SoundInfo& info,
                  const std::optional<Loudness>& loudness = std::nullopt);

}  // namespace kalvero::player
