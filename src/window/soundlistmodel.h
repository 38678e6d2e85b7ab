#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <memory>
#include <string_view>
#include <vector>

namespace kalvero::window {

// The rows of the list, stored compactly: all texts of all rows live as UTF-8
// in large shared blocks, and a row is a block number, an offset and five
// lengths (28 bytes). Texts become QStrings only when the view asks for a
// visible cell.
//
// Rows are appended in a staged way during a load: appendRow() stores them,
// commitRows() makes them visible to views in one insert notification.
class SoundListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxFields = 5;

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

    // Stages one row of up to kMaxFields UTF-8 fields.
    void appendRow(const std::string_view* fields, int count);
    // Makes the staged rows visible.
    void commitRows();
    // Every row held, shown or staged (rowCount() counts the shown ones).
    int heldRowCount() const { return static_cast<int>(rows_.size()); }

    QString text(int row, int field) const;
    std::string_view bytes(int row, int field) const;
    void removeRowAt(int row);
    // Finds the first row whose first field is `text`, -1 when none is.
    int findRowByFirstField(std::string_view text) const;

    // Heap bytes held for the rows beyond their texts (row records and block slack).
    size_t overheadBytes() const;

private:
    struct Row {
        quint32 block;
        quint32 offset;
        quint32 length[kMaxFields];
    };
    static_assert(sizeof(Row) == 28);

    struct Block {
        std::unique_ptr<char[]> data;
        size_t size = 0;
        size_t used = 0;
    };

    char* reserve(size_t bytes, quint32& block, quint32& offset);

    QStringList titles_;
    std::vector<Row> rows_;
    std::vector<Block> blocks_;
    size_t current_ = 0;  // the block being filled
    int committed_ = 0;
};

}  // namespace kalvero::window
