#include "prefs/ontop.h"

#include <QWidget>
#include <cmath>
#include <limits>

namespace kalvero::prefs {

int twipsToPixelsEven(double twips, double twipsPerPixel) {
    // nearbyint rounds in the current mode, which is to nearest, ties to even.
    const double pixels = std::nearbyint(twips / twipsPerPixel);
    // Window coordinates are 16-bit; anything beyond (or no number at all)
    // stops at the nearest end instead of overflowing the conversion.
    constexpr double lowest = std::numeric_limits<qint16>::min();
    constexpr double highest = std::numeric_limits<qint16>::max();
    if (std::isnan(pixels)) return 0;
    if (pixels < lowest) return static_cast<int>(lowest);
    if (pixels > highest) return static_cast<int>(highest);
    return static_cast<int>(pixels);
}

void SetOnTop(QWidget* window, bool onTop) {
    if (!window) return;
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    const QRect geometry = window->geometry();
    const bool visible = window->isVisible();
    const bool active = window->isActiveWindow();
    // Changing the flag re-creates the native window and hides it: show it
    // again in the same place, and give the focus back if it had it.
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    window->setGeometry(geometry);
    if (!visible) return;
    window->show();
    if (active) window->activateWindow();
}

}  // namespace kalvero::prefs
