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
    // "::" is plain ASCII, so splitting the bytes finds the same place as
    // splitting the text would, whatever the encoding of the path.
    const QByteArray argument(argv[1]);
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
