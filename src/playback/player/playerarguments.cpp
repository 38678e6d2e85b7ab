#include "playback/player/playerarguments.h"

#include "playback/playercommand.h"

#include <QFile>

namespace kalvero::player {

QString PlayerArguments::displayPath() const { return QFile::decodeName(nativePath); }

PlayerArguments checkPlayerArguments(int argc, const char* const* argv) {
    PlayerArguments result;
    if (argc != 2 || argv == nullptr || argv[1] == nullptr) {
        result.refusal = QStringLiteral(
            "KZW4: expected one argument, the sound file's path followed by \"::\" and the "
            "access token; nothing was played.");
        return result;
    }
    return checkPlayerArgument(QByteArray(argv[1]));
}

PlayerArguments checkPlayerArgument(const QByteArray& given) {
    PlayerArguments result;
    // A command-line argument ends at its first NUL: bytes handed over
    // another way are cut there too, so both ways accept the same things.
    const qsizetype nul = given.indexOf('\0');
    const QByteArray argument = nul < 0 ? given : given.left(nul);
    // "::" is plain ASCII, so splitting the bytes finds the same place as
    // splitting the text would, whatever the encoding of the path.
    const QByteArray separator(playback::kTokenSeparator);
    const qsizetype at = argument.lastIndexOf(separator);
    if (at < 0 || argument.mid(at + separator.size()) != QByteArray(playback::kAccessToken)) {
        result.refusal =
            QStringLiteral("KZW4: the access token is missing or wrong; nothing was played.");
        return result;
    }
    result.accepted = true;
    result.nativePath = argument.left(at);
    return result;
}

}  // namespace kalvero::player
