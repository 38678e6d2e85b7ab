#include "store/entrytable.h"

#include <cstring>
#include <stdexcept>

namespace kalvero::store {

namespace {
constexpr size_t kBlockSize = 4u << 20;
}

char* EntryTable::reserve(size_t bytes, quint32& block, quint32& offset) {
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

void EntryTable::append(const std::string_view* fields, const Kind* kinds, int count) {
    Row row{};
    size_t total = 0;
    for (int i = 0; i < count && i < kMaxFields; ++i) {
        // The engine's own limit on a value is far below this; a value past it
        // cannot be told apart from its storage class.
        if (fields[i].size() > kLengthMask) throw std::length_error("entry text too long");
        total += fields[i].size();
    }
    char* out = reserve(total, row.block, row.offset);
    for (int i = 0; i < count && i < kMaxFields; ++i) {
        if (!fields[i].empty()) std::memcpy(out, fields[i].data(), fields[i].size());
        out += fields[i].size();
        const quint32 kind = kinds ? static_cast<quint32>(kinds[i]) : quint32(Kind::Text);
        row.length[i] = static_cast<quint32>(fields[i].size()) | kind << kLengthBits;
    }
    rows_.push_back(row);
}

void EntryTable::clear() {
    rows_.clear();
    for (Block& b : blocks_) b.used = 0;
    current_ = 0;
}

void EntryTable::removeAt(size_t row) {
    if (row < rows_.size()) rows_.erase(rows_.begin() + static_cast<std::ptrdiff_t>(row));
}

std::string_view EntryTable::rowBytes(size_t row) const {
    if (row >= rows_.size()) return {};
    const Row& r = rows_[row];
    size_t total = 0;
    for (quint32 length : r.length) total += length & kLengthMask;
    return std::string_view(blocks_[r.block].data.get() + r.offset, total);
}

size_t EntryTable::overheadBytes() const {
    size_t slack = 0;
    for (const Block& b : blocks_) slack += b.size - b.used;
    return rows_.capacity() * sizeof(Row) + blocks_.capacity() * sizeof(Block) + slack;
}

}  // namespace kalvero::store
