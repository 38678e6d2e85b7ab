#pragma once

#include "playback/playercommand.h"

#include <functional>
#include <memory>

namespace kalvero::playback {

class PlayerLink;

// Plays a sound through the player and does not wait for it. A player of
// this user that is already running takes the sound over its socket;
// otherwise a player is started detached. A player that is missing or fails
// to start is ignored, as playing never reports an error.
class Launcher {
public:
    using StartFunction = std::function<bool(const PlayerCommand&)>;

    Launcher();
    // For tests: a stand-in for starting a process. Every play starts one
    // through it; nothing is handed to a running player.
    explicit Launcher(StartFunction start);

    // `takeFocus`: whether a player started for this sound takes the focus
    // (it does when the user asked to play; while auditioning row after row
    // the keys must stay with the list). A running player never takes it.
    void play(const QString& programFolder, const QString& filePath, bool takeFocus = true) const;

private:
    StartFunction start_;
    // Made on the first play, in the window's thread.
    mutable std::shared_ptr<PlayerLink> link_;
};

}  // namespace kalvero::playback
