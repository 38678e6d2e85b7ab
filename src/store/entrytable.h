#pragma once

#include <sqlite3.h>

#include <QtGlobal>
#include <memory>
#include <string_view>
#include <vector>

namespace kalvero::store {

// The rows of one result of the list's select, stored compactly: all texts
// of all rows live as UTF-8 in large blocks, and a row is a block number, an
// offset and five lengths (28 bytes). Each length carries the value's storage
// class in its top bits, since NULL, an empty text and a blob all read as
// bytes but filter and sort apart.
//
// Rows only grow until clear(); a table handed to other threads is never
// changed again (see SoundListModel and ListSnapshot).
class EntryTable {
public:
    static constexpr int kMaxFields = 5;
    // The storage classes a column of the table can hold, in the engine's sort order.
    enum class Kind : quint8 { Null = 0, Text = 1, Blob = 2 };

    EntryTable() = default;
    EntryTable(const EntryTable&) = delete;
    EntryTable& operator=(const EntryTable&) = delete;
    EntryTable(EntryTable&&) = default;
    EntryTable& operator=(EntryTable&&) = default;

    // Appends one row of up to kMaxFields fields; `kinds` may be null (all text).
    void append(const std::string_view* fields, const Kind* kinds, int count);
    // Forgets every row and keeps the blocks for the next rows.
    void clear();
    void removeAt(size_t row);

    size_t size() const { return rows_.size(); }
    // Rows and fields out of range read as an empty NULL.
    std::string_view bytes(size_t row, int field) const {
        if (row >= rows_.size() || field < 0 || field >= kMaxFields) return {};
        const Row& r = rows_[row];
        size_t offset = r.offset;
        for (int i = 0; i < field; ++i) offset += r.length[i] & kLengthMask;
        return std::string_view(blocks_[r.block].data.get() + offset,
                                r.length[field] & kLengthMask);
    }
    Kind kind(size_t row, int field) const {
        if (row >= rows_.size() || field < 0 || field >= kMaxFields) return Kind::Null;
        return static_cast<Kind>(rows_[row].length[field] >> kLengthBits);
    }
    // Asks the processor to fetch the row's record, ahead of bytes() or kind().
    void prefetchRow(size_t row) const {
        if (row < rows_.size()) __builtin_prefetch(&rows_[row]);
    }
    // All fields of the row back to back, as they are stored.
    std::string_view rowBytes(size_t row) const;

    // Heap bytes held beyond the texts (row records and block slack).
    size_t overheadBytes() const;

private:
    static constexpr quint32 kLengthBits = 30;
    static constexpr quint32 kLengthMask = (1u << kLengthBits) - 1;

    struct Row {
        quint32 block;
        quint32 offset;
        quint32 length[kMaxFields];  // kind << 30 | byte length
    };
    static_assert(sizeof(Row) == 28);

    struct Block {
        std::unique_ptr<char[]> data;
        size_t size = 0;
        size_t used = 0;
    };

    char* reserve(size_t bytes, quint32& block, quint32& offset);

    std::vector<Row> rows_;
    std::vector<Block> blocks_;
    size_t current_ = 0;  // the block being filled
};

// The kind of a column value from the engine's storage class (TEXT affinity
// leaves only NULL, TEXT and BLOB in the catalogue's text columns).
inline EntryTable::Kind kindOfColumn(int sqliteType) {
    return sqliteType == SQLITE_NULL   ? EntryTable::Kind::Null
           : sqliteType == SQLITE_BLOB ? EntryTable::Kind::Blob
                                       : EntryTable::Kind::Text;
}

}  // namespace kalvero::store
