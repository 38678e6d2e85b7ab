#include "window/soundlistmodel.h"

#include <cstring>

namespace kalvero::window {

namespace {
constexpr size_t kBlockSize = 4u << 20;
}

SoundListModel::SoundListModel(QObject* parent) : QAbstractTableModel(parent) {}

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
    // costs no page faults to fill again.
    rows_.clear();
    for (Block& b : blocks_) b.used = 0;
    current_ = 0;
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

char* SoundListModel::reserve(size_t bytes, quint32& block, quint32& offset) {
    while (current_ < blocks_.size() && blocks_[current_].size - blocks_[current_].used < bytes)
        ++current_;
    if (current_ == blocks_.size()) {
        Block b;
        b.size = std::max(kBlockSize, bytes);
        b.data.reset(new char[b.size]);
        blocks_.push_back(std::move(b));
    }
    Block& b = blocks_[current_];
    block = static_cast<quint32>(current_);
    offset = static_cast<quint32>(b.used);
    b.used += bytes;
    return b.data.get() + offset;
}

void SoundListModel::appendRow(const std::string_view* fields, int count) {
    Row row{};
    size_t total = 0;
    for (int i = 0; i < count && i < kMaxFields; ++i) total += fields[i].size();
    char* out = reserve(total, row.block, row.offset);
    for (int i = 0; i < count && i < kMaxFields; ++i) {
        if (!fields[i].empty()) std::memcpy(out, fields[i].data(), fields[i].size());
        out += fields[i].size();
        row.length[i] = static_cast<quint32>(fields[i].size());
    }
    rows_.push_back(row);
}

void SoundListModel::commitRows() {
    const int total = static_cast<int>(rows_.size());
    if (total == committed_) return;
    beginInsertRows({}, committed_, total - 1);
    committed_ = total;
    endInsertRows();
}

std::string_view SoundListModel::bytes(int row, int field) const {
    if (row < 0 || row >= static_cast<int>(rows_.size()) || field < 0 || field >= kMaxFields)
        return {};
    const Row& r = rows_[static_cast<size_t>(row)];
    size_t offset = r.offset;
    for (int i = 0; i < field; ++i) offset += r.length[i];
    return std::string_view(blocks_[r.block].data.get() + offset, r.length[field]);
}

QString SoundListModel::text(int row, int field) const {
    const std::string_view b = bytes(row, field);
    return QString::fromUtf8(b.data(), static_cast<qsizetype>(b.size()));
}

void SoundListModel::removeRowAt(int row) {
    if (row < 0 || row >= committed_) return;
    beginRemoveRows({}, row, row);
    rows_.erase(rows_.begin() + row);
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
    size_t slack = 0;
    for (const Block& b : blocks_) slack += b.size - b.used;
    return rows_.capacity() * sizeof(Row) + blocks_.capacity() * sizeof(Block) + slack;
}

}  // namespace kalvero::window
