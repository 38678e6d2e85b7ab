#pragma once

#include "playback/playercommand.h"

#include <functional>

namespace kalvero::playback {

// Starts the player detached and does not wait for it. A player that is
// missing or fails to start is ignored, as playing never reports an error.
class Launcher {
public:
    using StartFunction = std::function<bool(const PlayerCommand&)>;

    Launcher();
    // For tests: a stand-in for starting a process.
    explicit Launcher(StartFunction start);

    void play(const QString& programFolder, const QString& filePath) const;

private:
    StartFunction start_;
};

}  // namespace kalvero::playback
