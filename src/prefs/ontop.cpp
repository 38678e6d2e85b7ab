#include "prefs/ontop.h"

#include <QWidget>

namespace kalvero::prefs {

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
