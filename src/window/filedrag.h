#pragma once

#include <QStringList>

class QMimeData;

namespace kalvero::window {

// What dragging entries out of the list offers: the files as a URI list (for
// file managers and audio editors) and the paths as plain text, one a line.
// A path that is not absolute names no file that another program can find:
// it goes into the text only. A path that holds a line break would read as
// two paths in the text: it goes into the URI list only, percent-encoded
// there. Empty paths are left out. Null when nothing is left to drag.
QMimeData* fileDragData(const QStringList& paths);

// Whether `mime` holds rows dragged out of this process's own list.
bool isOwnRowDrag(const QMimeData* mime);

}  // namespace kalvero::window
