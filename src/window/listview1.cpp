#include "window/listview1.h"

#include "window/filedrag.h"
#include "window/fileexistence.h"
#include "window/units.h"

#include <QDrag>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMouseEvent>
#include <algorithm>
#include <utility>
#include <vector>

namespace kalvero::window {

ListView1::ListView1(QWidget* parent)
    : QTreeView(parent),
      model_(new SoundListModel(this)),
      fileStates_(new MissingFileDelegate(this)) {
    setObjectName(QStringLiteral("ListView1"));
    // A flat list: every row the same height, so a million rows cost no layout.
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setAllColumnsShowFocus(true);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSortingEnabled(false);
    setModel(model_);
    setItemDelegate(fileStates_);
    // Whether a file exists is asked again for each load.
    connect(model_, &QAbstractItemModel::modelReset, fileStates_->existence(),
            &FileExistence::clear);
    // Rows drag out as files; a press that does not move only selects.
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setDefaultDropAction(Qt::CopyAction);
    header()->setSectionsClickable(true);
    header()->setSectionsMovable(false);
    header()->setStretchLastSection(false);
    header()->setMinimumSectionSize(1);
    header()->setDefaultSectionSize(twipsToPixels(kDefaultColumnTwips));
    connect(header(), &QHeaderView::sectionClicked, this,
            [this](int logical) { emit ColumnClick(logical + 1); });
}

void ListView1::clearItems() { model_->clearRows(); }

void ListView1::clearColumns() {
    model_->clearColumns();
    widthTwips_.clear();
}

void ListView1::addColumn(const QString& title) {
    model_->addColumn(title);
    widthTwips_.append(kDefaultColumnTwips);
    header()->resizeSection(static_cast<int>(widthTwips_.size()) - 1,
                            twipsToPixels(kDefaultColumnTwips));
}

void ListView1::setColumnWidthTwips(int position, int twips) {
    if (position < 1 || position > widthTwips_.size()) return;
    widthTwips_[position - 1] = twips;
    // A column narrower than a pixel still exists: it is drawn one pixel wide.
    header()->resizeSection(position - 1, std::max(1, twipsToPixels(twips)));
}

int ListView1::columnWidthTwips(int position) const {
    if (position < 1 || position > widthTwips_.size()) return 0;
    const int twips = widthTwips_[position - 1];
    const int shown = header()->sectionSize(position - 1);
    // Report what was set unless the user has dragged the column since.
    return shown == std::max(1, twipsToPixels(twips)) ? twips : pixelsToTwips(shown);
}

void ListView1::clearSelectionFlags() { selectionModel()->clearSelection(); }

void ListView1::selectItem(int position, bool add) {
    if (position < 1 || position > count()) return;
    const auto flags = (add ? QItemSelectionModel::Select : QItemSelectionModel::ClearAndSelect) |
                       QItemSelectionModel::Rows;
    selectionModel()->select(model_->index(position - 1, 0), flags);
    selectionModel()->setCurrentIndex(model_->index(position - 1, 0),
                                      QItemSelectionModel::NoUpdate);
}

void ListView1::showAddedItems() {
    model_->commitRows();
    // Laid out now rather than at the next turn of the event loop: until
    // then the view's rows are those of the last layout, and an assistive
    // tool asking meanwhile would be told of no rows (or of rows gone), and
    // its first question about a cell would pay for the whole layout.
    executeDelayedItemsLayout();
}

void ListView1::removeItem(int position) {
    model_->removeRowAt(position - 1);
    executeDelayedItemsLayout();
}

std::pair<int, bool> ListView1::currentState() const {
    const int row = currentIndex().row();
    return {row, row >= 0 && selectionModel()->isRowSelected(row)};
}

void ListView1::mousePressEvent(QMouseEvent* event) {
    ++pressCount_;
    const auto before = currentState();
    // The control selects first (a right press selects the row under it too);
    // the handler then reads the selection as it stands.
    QTreeView::mousePressEvent(event);
    if (const auto after = currentState(); after.second && after != before) emit RowChosen(true);
    emit MouseDown(event->button());
}

void ListView1::keyPressEvent(QKeyEvent* event) {
    // The view sets the current row and its selection in separate steps;
    // the row is looked at once both are done. The row on which the list
    // opened is current but not selected: selecting it chooses it too.
    const auto before = currentState();
    QTreeView::keyPressEvent(event);
    if (const auto after = currentState(); after.second && after != before) emit RowChosen(false);
}

void ListView1::mouseReleaseEvent(QMouseEvent* event) {
    QTreeView::mouseReleaseEvent(event);
    if (event->button() != Qt::LeftButton) return;
    // The release that ends a double click is no click of its own.
    if (std::exchange(releaseEndsDoubleClick_, false)) return;
    if (viewport()->rect().contains(event->position().toPoint())) emit Click();
}

void ListView1::startDrag(Qt::DropActions) {
    // In list order, whatever order the rows were picked in.
    std::vector<int> rows;
    for (const QItemSelectionRange& range : selectionModel()->selection())
        for (int row = range.top(); row <= range.bottom(); ++row) rows.push_back(row);
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    QStringList paths;
    for (int row : rows) paths.append(model_->text(row, MissingFileDelegate::kPathColumn));
    QMimeData* mime = fileDragData(paths);
    if (!mime) return;
    auto* drag = new QDrag(this);
    drag->setMimeData(mime);
    drag->exec(Qt::CopyAction, Qt::CopyAction);
}

void ListView1::mouseDoubleClickEvent(QMouseEvent* event) {
    QTreeView::mouseDoubleClickEvent(event);
    if (event->button() != Qt::LeftButton) return;
    releaseEndsDoubleClick_ = true;
    emit DblClick();
}

}  // namespace kalvero::window
