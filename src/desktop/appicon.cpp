#include "desktop/appicon.h"

#include <QDirIterator>

// The icons are compiled into a static library, where nothing else would keep
// their registration from being dropped by the linker. The macro must stand
// outside any namespace.
static void registerIcons() { Q_INIT_RESOURCE(kalvero_icons); }

namespace kalvero::desktop {

QIcon appIcon() {
    [[maybe_unused]] static const bool registered = (registerIcons(), true);
    // The resource holds one PNG per size; the build decides which sizes.
    QIcon icon;
    QDirIterator sizes(QStringLiteral(":/kalvero/icons"), {QStringLiteral("*.png")}, QDir::Files);
    while (sizes.hasNext()) icon.addFile(sizes.next());
    return icon;
}

QString desktopId() { return QStringLiteral(KALVERO_DESKTOP_ID); }

}  // namespace kalvero::desktop
