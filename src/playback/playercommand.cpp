#include "playback/playercommand.h"

namespace kalvero::playback {

PlayerCommand playerCommand(const QString& programFolder, const QString& filePath) {
    QString folder = programFolder;
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return {folder + QLatin1String(kPlayerName),
            {filePath + QLatin1String(kTokenSeparator) + QLatin1String(kAccessToken)}};
}

bool splitPlayerArgument(const QString& argument, QString& filePath, QString& token) {
    const qsizetype at = argument.lastIndexOf(QLatin1String(kTokenSeparator));
    if (at < 0) return false;
    filePath = argument.left(at);
    token = argument.mid(at + 2);
    return true;
}

}  // namespace kalvero::playback
