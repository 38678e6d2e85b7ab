#pragma once

#include <QString>

namespace kalvero::importer {
struct SoundInfo;
}

namespace kalvero::player {

// What the player shows under the waveform about the file it plays: its
// title, its description (a long one shortened), and its UCS category,
// creator and library on one line. Empty when the file says none of these.
QString factsLine(const importer::SoundInfo& info);

}  // namespace kalvero::player
