// The player KZW4: plays one sound file in a small window of its own.
// Usage: KZW4 "<path>::<access token>"

#include "desktop/appicon.h"
#include "playback/player/playerarguments.h"
#include "playback/player/playerwindow.h"
#include "prefs/textlocale.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>

namespace {

// Whether Qt would find no display for its platform and abort. Qt picks X11
// or Wayland by itself unless QT_QPA_PLATFORM names plugins (a list tried in
// order, each with ":options"); plugins that need no display server
// (offscreen, eglfs...) are left for Qt to judge.
bool noDisplayToShowOn() {
    QByteArray platforms = qgetenv("QT_QPA_PLATFORM");
    if (platforms.isEmpty()) platforms = QByteArrayLiteral("xcb;wayland");
    for (const QByteArray& entry : platforms.split(';')) {
        const qsizetype colon = entry.indexOf(':');
        const QByteArray name = (colon < 0 ? entry : entry.first(colon)).trimmed();
        if (name.isEmpty()) continue;
        if (name == "xcb") {
            if (!qEnvironmentVariableIsEmpty("DISPLAY")) return false;
        } else if (name.startsWith("wayland")) {
            // Without a name, Wayland clients try the compositor's usual socket.
            if (!qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") ||
                !qEnvironmentVariableIsEmpty("WAYLAND_SOCKET") ||
                (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR") &&
                 QFileInfo::exists(qEnvironmentVariable("XDG_RUNTIME_DIR") +
                                   QStringLiteral("/wayland-0"))))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char* argv[]) {
    kalvero::prefs::useUtf8Locale();
    using namespace kalvero::player;
    const PlayerArguments arguments = checkPlayerArguments(argc, argv);
    if (!arguments.accepted) {
        std::fprintf(stderr, "%s\n", arguments.refusal.toLocal8Bit().constData());
        return toInt(ExitCode::BadArguments);
    }
    // Refused like a wrong start, in words rather than with Qt's abort and a core dump.
    if (noDisplayToShowOn()) {
        std::fprintf(stderr,
                     "KZW4: there is no display to show the player on (neither DISPLAY nor "
                     "WAYLAND_DISPLAY is set); nothing was played.\n");
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
