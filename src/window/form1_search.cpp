// The search bar, header sorting and the list's place on resize.

#include "window/form1.h"
#include "window/listview1.h"
#include "window/units.h"

#include <QAction>
#include <QCheckBox>
#include <QGroupBox>
#include <QLineEdit>
#include <QMoveEvent>
#include <QResizeEvent>

namespace kalvero::window {

void Form1::searchBox_Change() {
    if (Check1->isChecked()) SearchData1(1);
}

void Form1::Command5_Click() { SearchData1(1); }

void Form1::Command7_Click() {
    Text5->setText(QString());
    Text7->setText(QString());
    Text8->setText(QString());
    Text9->setText(QString());
    SearchData1(1);
}

void Form1::ListView1_ColumnClick(int position) {
    // Only a header the list shows can be clicked; any other position would
    // make a statement that sorts by no column at all.
    if (position < 1 || position > ListView1->columnCount()) return;
    SearchData1(static_cast<qint16>(position));
}

void Form1::layoutList() {
    // In twips, from the whole window's size with its frame, title and menu bar.
    const QRect outer = frameGeometry();
    const double outerWidth = pixelsToTwips(outer.width());
    const double outerHeight = pixelsToTwips(outer.height());

    // Each step stands alone: a negative size is refused and leaves the old one.
    const double width = outerWidth - 400;
    if (width >= 0) listTwips_.setWidth(width);
    const double top = ShowSearchBar->isChecked() ? 840 + 855 + 100 : 120 + 615 + 100;
    const double height = listTwips_.height();
    listTwips_.moveTop(top);
    listTwips_.setHeight(height);
    const double newHeight = outerHeight - listTwips_.top() - 1000;
    if (newHeight >= 0) listTwips_.setHeight(newHeight);
    applyListGeometry();
}

void Form1::applyListGeometry() {
    ListView1->setGeometry(twipsToPixels(listTwips_.left()), twipsToPixels(listTwips_.top()),
                           twipsToPixels(listTwips_.width()), twipsToPixels(listTwips_.height()));
}

void Form1::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    layoutList();
}

void Form1::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) layoutList();
}

void Form1::moveEvent(QMoveEvent* event) {
    QMainWindow::moveEvent(event);
    // A window manager that frames the window after it is shown reports the
    // frame only with the move that follows; the outer size changes then
    // without a Resize, and the list must follow it.
    layoutList();
}

}  // namespace kalvero::window
