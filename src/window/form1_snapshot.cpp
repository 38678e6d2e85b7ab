// Loads answered from the entries kept from the last whole load.

#include "window/form1.h"
#include "window/listsnapshot.h"
#include "window/listview1.h"

#include <QTimer>

namespace kalvero::window {

bool Form1::answerFromSnapshot(const store::ListQuery& query) {
    if (snapshot_->answer(query, *ListView1, eventIntervalMs_, [this] { return operationTurn(); }))
        return true;
    // Stopped for a newer load: nothing of it is shown.
    if (staleLoad_) return true;
    // What was kept could not answer after all: the load reads the file.
    ListView1->clearItems();
    ListView1->clearColumns();
    catalogue_.begin();
    return false;
}

void Form1::keepWholeLoad() {
    QStringList titles;
    for (int c = 1; c <= ListView1->columnCount(); ++c) titles << ListView1->columnTitle(c);
    snapshot_->keep(ListView1->rows()->wholeTable(), titles);
    // Once the window has shown the list: the sort is not to slow that down.
    QTimer::singleShot(0, this, [this] { snapshot_->startSorting(); });
}

}  // namespace kalvero::window
