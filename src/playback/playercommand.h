#pragma once

#include <QString>
#include <QStringList>

namespace kalvero::playback {

// The player lies beside the program and takes one argument: the sound
// file's path, "::" and the access token.
inline constexpr const char* kPlayerName = "KZW4";
inline constexpr const char* kAccessToken = "tzobrahuxelivmcg";
inline constexpr const char* kTokenSeparator = "::";

// In the started player's environment, "1": its window shows without taking
// the focus from the program.
inline constexpr const char* kBackgroundVariable = "KZW4_BACKGROUND";

struct PlayerCommand {
    QString program;
    QStringList arguments;
    // Whether the player's window takes the focus when it is started.
    bool takeFocus = true;
};

// Builds the command for `filePath` with the player in `programFolder`.
// Nothing is quoted, split or trimmed: both paths may hold any character.
PlayerCommand playerCommand(const QString& programFolder, const QString& filePath);

}  // namespace kalvero::playback
