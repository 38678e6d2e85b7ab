#include "desktop/appicon.h"
#include "prefs/textlocale.h"
#include "window/form1.h"

#include <QApplication>

int main(int argc, char* argv[]) {
    kalvero::prefs::useUtf8Locale();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kalvero"));
    QApplication::setOrganizationName(QStringLiteral("Kalvero"));
    // Lets the desktop match the window to its launcher and the launcher's icon.
    QApplication::setDesktopFileName(kalvero::desktop::desktopId());
    // The catalogue and the player live beside the executable, wherever it was copied.
    kalvero::window::Form1 window(QCoreApplication::applicationDirPath());
    window.show();
    return app.exec();
}
