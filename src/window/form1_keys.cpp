// Keys that do what the mouse does: play, delete, the context menu, and a
// jump to the search bar. They are shortcuts, so they follow the desktop's
// own key bindings where Qt knows them.

#include "window/form1.h"
#include "window/listview1.h"

#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QShortcut>

namespace kalvero::window {

void Form1::buildShortcuts() {
    // Keys on the list act only while the list has the focus, so a search
    // box keeps Space, Enter and Delete for its text.
    auto onList = [this](QShortcut* shortcut, const char* name, auto handler) {
        shortcut->setObjectName(QString::fromLatin1(name));
        shortcut->setContext(Qt::WidgetWithChildrenShortcut);
        shortcut->setAutoRepeat(false);
        connect(shortcut, &QShortcut::activated, this, handler);
    };
    // Space or Enter plays the first selected entry, as "Play File" does.
    for (const QKeyCombination key :
         {QKeyCombination(Qt::Key_Space), QKeyCombination(Qt::Key_Return),
          QKeyCombination(Qt::Key_Enter)})
        onList(new QShortcut(QKeySequence(key), ListView1), "playKey", [this] { PlayTheFile(); });

    // Delete asks "Delete It?"'s question about the selected row. The row is
    // recorded in the selection tag first, as a mouse press records it; with
    // nothing selected the key does nothing rather than delete an entry the
    // user cannot see.
    onList(new QShortcut(QKeySequence::Delete, ListView1), "deleteKey", [this] {
        if (lastSelectedPosition() == 0) return;
        ListView1_MouseDown(Qt::NoButton);
        DeleteMenu_Click();
    });

    // The Menu key and Shift+F10 open the context menu at the selected row.
    for (const QKeyCombination key :
         {QKeyCombination(Qt::Key_Menu), QKeyCombination(Qt::ShiftModifier, Qt::Key_F10)})
        onList(new QShortcut(QKeySequence(key), ListView1), "menuKey",
               [this] { popupRmenuAtSelection(); });

    // Ctrl+F (the desktop's Find) goes to the search bar's Name box when the bar is shown.
    auto* find = new QShortcut(QKeySequence::Find, this);
    find->setObjectName(QStringLiteral("findKey"));
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, [this] {
        if (!Frameqq2->isVisible()) return;
        Text5->setFocus(Qt::ShortcutFocusReason);
        Text5->selectAll();
    });
}

void Form1::popupRmenuAtSelection() {
    // The tag is recorded as a right press would record it.
    ListView1_MouseDown(Qt::NoButton);
    QPoint at = ListView1->viewport()->rect().topLeft();
    if (const int position = lastSelectedPosition(); position > 0) {
        const QModelIndex index = ListView1->rows()->index(position - 1, 1);
        ListView1->scrollTo(index);
        at = ListView1->visualRect(index).bottomLeft();
    }
    Rmenu->popup(ListView1->viewport()->mapToGlobal(at));
}

}  // namespace kalvero::window
