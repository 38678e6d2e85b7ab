// Auditioning: with "Play on Selection" ticked, every row the user makes
// current and selected, by a key or a press of the mouse, plays, so holding
// Down runs through the sounds one after another. (Ctrl with an arrow moves
// without selecting: there is nothing new to hear then.)

#include "window/form1.h"
#include "window/listview1.h"

#include <QAction>

namespace kalvero::window {

void Form1::PlayOnSelectionM_Click() {
    PlayOnSelectionM->setChecked(!PlayOnSelectionM->isChecked());
    options_.write(prefs::kPlayOnSelection, PlayOnSelectionM->isChecked());
}

void Form1::ListView1_RowChosen(bool byPress) {
    if (!PlayOnSelectionM->isChecked()) return;
    const QModelIndex current = ListView1->currentIndex();
    if (!current.isValid()) return;
    // The player started for it leaves the focus here, so the next key
    // still moves through the list.
    services_.launcher.play(programFolder_, ListView1->subItemText(current.row() + 1, 2), false);
    if (byPress) playedAtPress_ = ListView1->pressCount();
}

bool Form1::pressPlayedItsRow() const { return playedAtPress_ == ListView1->pressCount(); }

}  // namespace kalvero::window
