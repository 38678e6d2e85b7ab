// The player KZW4: plays one sound file in a small window of its own.
// Usage: KZW4 "<path>::<access token>"

#include "desktop/appicon.h"
#include "playback/player/playerarguments.h"
#include "playback/player/playerwindow.h"
#include "prefs/textlocale.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char* argv[]) {
    kalvero::prefs::useUtf8Locale();
    using namespace kalvero::player;
    const PlayerArguments arguments = checkPlayerArguments(argc, argv);
    if (!arguments.accepted) {
        std::fprintf(stderr, "%s\n", arguments.refusal.toLocal8Bit().constData());
        return toInt(ExitCode::BadArguments);
    }
    // Qt sees the program's name only: a path such as "-style=x" is no option.
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication app(qtArgc, qtArgv);
    QApplication::setApplicationName(QStringLiteral("KZW4"));
    QApplication::setWindowIcon(kalvero::desktop::appIcon());
    return runPlayer(arguments.nativePath);
}
