#pragma once

#include "store/entrytable.h"

#include <QAbstractTableModel>
#include <QStringList>
#include <memory>
#include <string_view>
#include <vector>

namespace kalvero::window {

// The rows of the list. A load from the catalogue fills a table of the
// model's own (store::EntryTable: texts in large shared blocks, 28 bytes a
// row); a load answered from memory shows rows of a table kept from an
// earlier load, by their numbers, without copying a text. Texts become
// QStrings only when the view asks for a visible cell.
//
// Rows are appended in a staged way during a load: appendRow() stores them,
// commitRows() makes them visible to views in one insert notification.
class SoundListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxFields = store::EntryTable::kMaxFields;

    explicit SoundListModel(QObject* parent = nullptr);
    ~SoundListModel() override;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    // Rows can be dragged out as files.
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void clearRows();
    void clearColumns();
    void addColumn(const QString& title);
    QString columnTitle(int column) const { return titles_.value(column); }

    // Stages one row of up to kMaxFields UTF-8 fields (kinds null: all text).
    void appendRow(const std::string_view* fields, int count,
                   const store::EntryTable::Kind* kinds = nullptr);
    // Stages rows of `table`, by their numbers there, in place of any staged
    // so far; stageTable() stages all of its rows in its order. A table
    // staged so is never changed through the model.
    void stageRowsOf(std::shared_ptr<const store::EntryTable> table, std::vector<quint32> rows);
    void stageTable(std::shared_ptr<const store::EntryTable> table);
    // Makes the staged rows visible.
    void commitRows();
    // Every row held, shown or staged (rowCount() counts the shown ones).
    int heldRowCount() const;
    // The table the rows come from, when the model shows it whole and in its order.
    std::shared_ptr<const store::EntryTable> wholeTable() const;

    QString text(int row, int field) const;
    std::string_view bytes(int row, int field) const;
    void removeRowAt(int row);
    // Finds the first row whose first field is `text`, -1 when none is.
    int findRowByFirstField(std::string_view text) const;

    // Heap bytes held for the rows beyond their texts (row records, row
    // numbers and block slack).
    size_t overheadBytes() const;

private:
    const store::EntryTable& table() const;
    size_t tableRow(int row) const {
        return picked_ ? order_[static_cast<size_t>(row)] : static_cast<size_t>(row);
    }

    QStringList titles_;
    // The table a load from the file appends to; shared with a kept snapshot
    // once it holds the whole catalogue.
    std::shared_ptr<store::EntryTable> own_;
    // own_ holds rows of an earlier load that others still share: it shows
    // nothing, and is emptied for the next rows, or replaced if still shared.
    bool ownStale_ = false;
    // A kept table the rows are shown from instead, when a load was answered from memory.
    std::shared_ptr<const store::EntryTable> kept_;
    // With picked_, row i shows table row order_[i]; otherwise table row i.
    std::vector<quint32> order_;
    bool picked_ = false;
    int committed_ = 0;
};

}  // namespace kalvero::window
