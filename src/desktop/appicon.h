#pragma once

#include <QIcon>
#include <QString>

namespace kalvero::desktop {

// The program's icon, drawn from kalvero.svg at build time in every size the
// desktop asks for. The window, its tray icon and the player all show it.
QIcon appIcon();

// The name the desktop knows the program by: its launcher is <id>.desktop and
// its icon files are named <id>, so windows are matched to the launcher.
QString desktopId();

}  // namespace kalvero::desktop
