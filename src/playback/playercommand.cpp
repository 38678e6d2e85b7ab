#include "playback/playercommand.h"

namespace kalvero::playback {

PlayerCommand playerCommand(const QString& programFolder, const QString& filePath) {
    QString folder = programFolder;
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    return {folder + QLatin1String(kPlayerName),
            {filePath + QLatin1String(kTokenSeparator) + QLatin1String(kAccessToken)}};
}

}  // namespace kalvero::playback
