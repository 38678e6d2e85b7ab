#pragma once

class QWidget;

namespace kalvero::prefs {

// Puts the window into the band of windows that stay above the others, or
// takes it out, keeping its place and size.
void SetOnTop(QWidget* window, bool onTop);

// Twips to whole pixels, halves to the even neighbour, held to the 16-bit
// range of window coordinates (not a number gives 0).
int twipsToPixelsEven(double twips, double twipsPerPixel);

}  // namespace kalvero::prefs
