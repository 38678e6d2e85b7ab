#pragma once

class QWidget;

namespace kalvero::prefs {

// Puts the window into the band of windows that stay above the others, or
// takes it out, keeping its place and size.
void SetOnTop(QWidget* window, bool onTop);

}  // namespace kalvero::prefs
