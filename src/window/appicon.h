#pragma once

#include <QIcon>

namespace kalvero::window {

// The program's icon, a loudspeaker, drawn at 32 x 32 and 16 x 16.
QIcon appIcon();

}  // namespace kalvero::window
