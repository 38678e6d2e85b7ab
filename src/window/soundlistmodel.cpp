#include "window/soundlistmodel.h"

#include <numeric>

namespace kalvero::window {

namespace {
const std::shared_ptr<const store::EntryTable>& emptyTable() {
    static const auto empty = std::make_shared<const store::EntryTable>();
    return empty;
}
}  // namespace

SoundListModel::SoundListModel(QObject* parent)
    : QAbstractTableModel(parent), own_(std::make_shared<store::EntryTable>()) {}

SoundListModel::~SoundListModel() = default;

int SoundListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : committed_;
}

int SoundListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(titles_.size());
}

QVariant SoundListModel::data(const QModelIndex& index, int role) const {
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole && role != Qt::AccessibleTextRole)
        return {};
    if (!index.isValid() || index.row() >= committed_ || index.column() >= kMaxFields) return {};
    return text(index.row(), index.column());
}

QVariant SoundListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole) return titles_.value(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

QModelIndex SoundListModel::index(int row, int column, const QModelIndex& parent) const {
    // The view asks for the index of every row each time it lays the list
    // out (a million at a time): answer without the generic checks' calls.
    if (parent.isValid() || row < 0 || row >= committed_ || column < 0 ||
        column >= static_cast<int>(titles_.size()))
        return {};
    return createIndex(row, column);
}

Qt::ItemFlags SoundListModel::flags(const QModelIndex& index) const {
    // Asked for every row at each layout, as index() is.
    if (!index.isValid() || index.model() != this || index.row() >= committed_ ||
        index.column() >= static_cast<int>(titles_.size()))
        return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren |
           Qt::ItemIsDragEnabled;
}

void SoundListModel::clearRows() {
    beginResetModel();
    // The row records and text blocks are kept for the next load: the next
    // list is most often about as long, and memory the process already has
    // costs no page faults to fill again. A table someone else still holds
    // (a kept snapshot, or a thread that sorts it) stays as it is until rows
    // come: by then the others have often let go of it.
    kept_.reset();
    ownStale_ = own_.use_count() != 1;
    if (!ownStale_) own_->clear();
    order_ = {};
    picked_ = false;
    committed_ = 0;
    endResetModel();
}

void SoundListModel::clearColumns() {
    if (titles_.isEmpty()) return;
    beginRemoveColumns({}, 0, static_cast<int>(titles_.size()) - 1);
    titles_.clear();
    endRemoveColumns();
}

void SoundListModel::addColumn(const QString& title) {
    const int at = static_cast<int>(titles_.size());
    beginInsertColumns({}, at, at);
    titles_.append(title);
    endInsertColumns();
}

void SoundListModel::appendRow(const std::string_view* fields, int count,
                               const store::EntryTable::Kind* kinds) {
    if (ownStale_) {
        if (own_.use_count() == 1)
            own_->clear();
        else
            own_ = std::make_shared<store::EntryTable>();
        ownStale_ = false;
    }
    own_->append(fields, kinds, count);
}

const store::EntryTable& SoundListModel::table() const {
    if (kept_) return *kept_;
    return ownStale_ ? *emptyTable() : *own_;
}

void SoundListModel::stageRowsOf(std::shared_ptr<const store::EntryTable> table,
                                 std::vector<quint32> rows) {
    // Rows appear only through commitRows(); a table of rows already shown
    // would be swapped under the view's feet.
    if (committed_ > 0) return;
    kept_ = std::move(table);
    order_ = std::move(rows);
    picked_ = true;
}

void SoundListModel::stageTable(std::shared_ptr<const store::EntryTable> table) {
    if (committed_ > 0) return;
    kept_ = std::move(table);
    order_ = {};
    picked_ = false;
}

void SoundListModel::commitRows() {
    // A load that showed nothing lets go of the rows nobody else wants now.
    if (ownStale_ && !kept_ && own_.use_count() == 1) {
        own_ = std::make_shared<store::EntryTable>();
        ownStale_ = false;
    }
    const int total = heldRowCount();
    if (total == committed_) return;
    beginInsertRows({}, committed_, total - 1);
    committed_ = total;
    endInsertRows();
}

int SoundListModel::heldRowCount() const {
    return static_cast<int>(picked_ ? order_.size() : table().size());
}

std::shared_ptr<const store::EntryTable> SoundListModel::wholeTable() const {
    if (picked_) return nullptr;
    if (kept_) return kept_;
    return ownStale_ ? emptyTable() : own_;
}

std::string_view SoundListModel::bytes(int row, int field) const {
    if (row < 0 || row >= heldRowCount()) return {};
    return table().bytes(tableRow(row), field);
}

QString SoundListModel::text(int row, int field) const {
    const std::string_view b = bytes(row, field);
    return QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size()));
}

void SoundListModel::removeRowAt(int row) {
    if (row < 0 || row >= committed_) return;
    beginRemoveRows({}, row, row);
    if (!picked_ && !kept_ && !ownStale_ && own_.use_count() == 1) {
        own_->removeAt(static_cast<size_t>(row));
    } else {
        // The table is kept for later loads as it was read: the row goes from
        // the list of rows shown instead.
        if (!picked_) {
            order_.resize(table().size());
            std::iota(order_.begin(), order_.end(), quint32(0));
            picked_ = true;
        }
        order_.erase(order_.begin() + row);
    }
    --committed_;
    endRemoveRows();
}

int SoundListModel::findRowByFirstField(std::string_view text) const {
    for (int i = 0; i < committed_; ++i) {
        if (bytes(i, 0) == text) return i;
    }
    return -1;
}

size_t SoundListModel::overheadBytes() const {
    return own_->overheadBytes() + order_.capacity() * sizeof(quint32);
}

}  // namespace kalvero::window
