#pragma once

#include "window/soundlistmodel.h"

#include <QTreeView>
#include <QVector>
#include <utility>

namespace kalvero::window {

class MissingFileDelegate;

// The report-style list of entries: rows of items under clickable column
// headers. Positions of items and columns count from 1. An item's text is
// field 0 of its row, sub-item k is field k.
class ListView1 : public QTreeView {
    Q_OBJECT
public:
    // Width of a new column: one inch.
    static constexpr int kDefaultColumnTwips = 1440;

    explicit ListView1(QWidget* parent = nullptr);

    SoundListModel* rows() const { return model_; }
    // Draws rows whose file is missing apart.
    MissingFileDelegate* fileStates() const { return fileStates_; }

    void clearItems();
    void clearColumns();
    void addColumn(const QString& title);
    void setColumnWidthTwips(int position, int twips);
    int columnWidthTwips(int position) const;
    int columnCount() const { return model_->columnCount(); }
    QString columnTitle(int position) const { return model_->columnTitle(position - 1); }

    // Adds an item with its text and sub-items in one step (fields[0] is the text).
    void addItem(const std::string_view* fields, int count,
                 const store::EntryTable::Kind* kinds = nullptr) {
        model_->appendRow(fields, count, kinds);
    }
    // Shows the items added since the last call.
    void showAddedItems();

    int count() const { return model_->rowCount(); }
    QString itemText(int position) const { return model_->text(position - 1, 0); }
    QString subItemText(int position, int k) const { return model_->text(position - 1, k); }
    void clearSelectionFlags();
    void removeItem(int position);
    void selectItem(int position, bool add = false);
    // Counts the mouse presses on the rows, so a handler can tell whether
    // two events came from the same press.
    int pressCount() const { return pressCount_; }

signals:
    void Click();
    void DblClick();
    void MouseDown(Qt::MouseButton button);
    void ColumnClick(int position);
    // The user made a row current and selected with a key or a press of the
    // mouse: moved to it, or selected the current row. Sent once the key or
    // the press has made its selection.
    void RowChosen(bool byPress);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void startDrag(Qt::DropActions supportedActions) override;

private:
    // The current row, and whether it is selected.
    std::pair<int, bool> currentState() const;

    SoundListModel* model_;
    MissingFileDelegate* fileStates_;
    QVector<int> widthTwips_;
    bool releaseEndsDoubleClick_ = false;
    int pressCount_ = 0;
};

}  // namespace kalvero::window
