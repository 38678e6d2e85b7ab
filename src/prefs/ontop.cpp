#include "prefs/ontop.h"

#include <QWidget>
#include <cmath>

namespace kalvero::prefs {

int twipsToPixelsEven(double twips, double twipsPerPixel) {
    // nearbyint rounds in the current mode, which is to nearest, ties to even.
    return static_cast<int>(std::nearbyint(twips / twipsPerPixel));
}

void SetOnTop(QWidget* window, bool onTop) {
    if (!window) return;
    const QRect geometry = window->geometry();
    const bool visible = window->isVisible();
    if (window->windowFlags().testFlag(Qt::WindowStaysOnTopHint) == onTop) return;
    // Changing the flag re-creates the native window and hides it: show it
    // again in the same place.
    window->setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    window->setGeometry(geometry);
    if (visible) window->show();
}

}  // namespace kalvero::prefs
