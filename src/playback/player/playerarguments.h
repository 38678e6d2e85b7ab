#pragma once

#include <QByteArray>
#include <QString>

namespace kalvero::player {

// What the player's process returns.
enum class ExitCode : int {
    Played = 0,         // played to the end, or stopped by the user
    CannotPlay = 1,     // the file is missing, unreadable or not a sound it can decode
    BadArguments = 2,   // no argument, more than one, or a missing or wrong access token
    NoSoundDevice = 3,  // no sound output could be opened
};

constexpr int toInt(ExitCode code) { return static_cast<int>(code); }

// The player's one argument, checked. The file path is kept as the bytes the
// system gave, so a name that is not valid text still reaches the file system
// unchanged.
struct PlayerArguments {
    bool accepted = false;
    QByteArray nativePath;
    // The one line to print when the arguments are refused.
    QString refusal;

    QString displayPath() const;
};

// Checks the command line (argv[0] is the program): exactly one argument
// "<path>::<token>", the token being what follows the last "::".
PlayerArguments checkPlayerArguments(int argc, const char* const* argv);
// The same rules for the one argument alone, however it arrived.
PlayerArguments checkPlayerArgument(const QByteArray& argument);

}  // namespace kalvero::player
