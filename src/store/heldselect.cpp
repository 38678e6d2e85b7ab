#include "store/heldselect.h"

#include "store/unicodefold.h"

#include <algorithm>

namespace kalvero::store {

namespace {

using Kind = EntryTable::Kind;

// Rows between two questions to goOn: some milliseconds of work at most.
constexpr size_t kRowsBetweenChecks = 16384;
// Items between two looks at the cancel flag while sorting.
constexpr size_t kItemsBetweenChecks = 65536;

// One row of a column being sorted: the next three folded characters of its
// text as a number that orders like them, and where in the text they end.
struct SortItem {
    quint64 key;
    quint32 row;
    quint32 position;
};

// Three folded characters, 21 bits each, each one more than its code point so
// that a text that has ended (0) sorts before any character, NUL included.
constexpr int kCharBits = 21;
constexpr quint64 kLastCharMask = (quint64(1) << kCharBits) - 1;

quint64 nextKey(std::string_view text, quint32& position) {
    const auto* begin = reinterpret_cast<const unsigned char*>(text.data());
    const auto* p = begin + position;
    const auto* end = begin + text.size();
    quint64 key = 0;
    for (int i = 0; i < 3; ++i) {
        key <<= kCharBits;
        if (p < end) key |= quint64(nextFoldedChar(p, end)) + 1;
    }
    position = static_cast<quint32>(p - begin);
    return key;
}

// Sorts texts by their folded characters, three at a time: every range of
// rows whose texts agreed so far is sorted by the next three, and the ranges
// that still agree go round again. Equal texts end in row order. False when
// cancelled.
bool sortTexts(const EntryTable& table, int field, std::vector<SortItem>& items,
               const std::atomic<bool>& cancelled) {
    std::vector<std::pair<size_t, size_t>> ranges{{0, items.size()}};
    size_t sinceCheck = 0;
    while (!ranges.empty()) {
        const auto [lo, hi] = ranges.back();
        ranges.pop_back();
        sinceCheck += hi - lo;
        if (sinceCheck > kItemsBetweenChecks) {
            if (cancelled.load(std::memory_order_relaxed)) return false;
            sinceCheck = 0;
        }
        bool allEqual = true;
        for (size_t i = lo; i < hi; ++i) {
            SortItem& item = items[i];
            item.key = nextKey(table.bytes(item.row, field), item.position);
            allEqual = allEqual && item.key == items[lo].key;
        }
        // Rows come in row order and leave every pass in row order among equals.
        if (!allEqual) {
            std::sort(items.begin() + static_cast<std::ptrdiff_t>(lo),
                      items.begin() + static_cast<std::ptrdiff_t>(hi),
                      [](const SortItem& a, const SortItem& b) {
                          return a.key != b.key ? a.key < b.key : a.row < b.row;
                      });
        }
        for (size_t start = lo; start < hi;) {
            size_t end = start + 1;
            while (end < hi && items[end].key == items[start].key) ++end;
            // A key whose last character is 0 is a text that has ended: the
            // range holds equal texts.
            if (end - start > 1 && (items[start].key & kLastCharMask) != 0)
                ranges.push_back({start, end});
            start = end;
        }
    }
    return true;
}

bool sameValue(const EntryTable& table, int field, quint32 a, quint32 b) {
    const Kind kind = table.kind(a, field);
    if (kind != table.kind(b, field)) return false;
    if (kind == Kind::Null) return true;
    if (kind == Kind::Blob) return table.bytes(a, field) == table.bytes(b, field);
    return compareNoCase(table.bytes(a, field), table.bytes(b, field)) == 0;
}

// One search box's clause, LIKE '%text%' as the engine runs it with our `like`.
struct Clause {
    int field;
    LikePattern pattern;
};

std::vector<Clause> clausesOf(const SearchTexts& search) {
    const QString* texts[] = {&search.name, &search.file, &search.category, &search.description};
    std::vector<Clause> clauses;
    for (int k = 0; k < 4; ++k) {
        if (texts[k]->isEmpty()) continue;
        const QByteArray pattern = '%' + texts[k]->toUtf8() + '%';
        clauses.push_back({k + 1, LikePattern(std::string_view(
                                      pattern.constData(), static_cast<size_t>(pattern.size())))});
    }
    return clauses;
}

bool passes(const EntryTable& table, size_t row, const std::vector<Clause>& clauses) {
    for (const Clause& c : clauses) {
        if (table.kind(row, c.field) == Kind::Null) return false;
        if (!c.pattern.matches(table.bytes(row, c.field))) return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<ColumnOrders> ColumnOrders::build(const EntryTable& table,
                                                  const std::atomic<bool>& cancelled) {
    auto orders = std::make_unique<ColumnOrders>();
    const size_t n = table.size();
    for (int field = 1; field <= 4; ++field) {
        if (cancelled.load(std::memory_order_relaxed)) return nullptr;
        std::vector<quint32> nulls, blobs;
        std::vector<SortItem> texts;
        texts.reserve(n);
        for (size_t row = 0; row < n; ++row) {
            const Kind kind = table.kind(row, field);
            if (kind == Kind::Null)
                nulls.push_back(static_cast<quint32>(row));
            else if (kind == Kind::Blob)
                blobs.push_back(static_cast<quint32>(row));
            else
                texts.push_back({0, static_cast<quint32>(row), 0});
        }
        if (!sortTexts(table, field, texts, cancelled)) return nullptr;
        // Blobs compare byte by byte, then by length, as string_view does.
        std::stable_sort(blobs.begin(), blobs.end(), [&](quint32 a, quint32 b) {
            return table.bytes(a, field) < table.bytes(b, field);
        });

        std::vector<quint32>& rows = orders->rows_[field - 1];
        rows.reserve(n);
        rows.insert(rows.end(), nulls.begin(), nulls.end());
        for (const SortItem& item : texts) rows.push_back(item.row);
        std::vector<SortItem>().swap(texts);
        rows.insert(rows.end(), blobs.begin(), blobs.end());

        std::vector<bool>& starts = orders->runStarts_[field - 1];
        starts.resize(n);
        for (size_t i = 0; i < n; ++i) {
            starts[i] = i == 0 || !sameValue(table, field, rows[i - 1], rows[i]);
            if (i % kItemsBetweenChecks == 0 && cancelled.load(std::memory_order_relaxed))
                return nullptr;
        }
    }
    return orders;
}

size_t ColumnOrders::heapBytes() const {
    size_t bytes = 0;
    for (int i = 0; i < 4; ++i)
        bytes += rows_[i].capacity() * sizeof(quint32) + runStarts_[i].capacity() / 8;
    return bytes;
}

std::optional<std::vector<quint32>> selectHeld(const EntryTable& table, const ColumnOrders* orders,
                                               const ListQuery& query,
                                               const std::function<bool()>& goOn) {
    const std::vector<Clause> clauses = clausesOf(query.search);
    const size_t n = table.size();
    std::vector<quint32> out;
    if (!goOn()) return std::nullopt;

    if (query.sortColumn == 1) {
        for (size_t row = 0; row < n; ++row) {
            if (row % kRowsBetweenChecks == kRowsBetweenChecks - 1 && !goOn()) return std::nullopt;
            if (passes(table, row, clauses)) out.push_back(static_cast<quint32>(row));
        }
        return out;
    }
    if (!orders || query.sortColumn < 2 || query.sortColumn > 5) return std::nullopt;

    // Which rows pass, found in table order, where the texts lie one after another.
    std::vector<bool> kept;
    if (!clauses.empty()) {
        kept.resize(n);
        for (size_t row = 0; row < n; ++row) {
            if (row % kRowsBetweenChecks == kRowsBetweenChecks - 1 && !goOn()) return std::nullopt;
            kept[row] = passes(table, row, clauses);
        }
    }
    const int field = query.sortColumn - 1;
    const std::vector<quint32>& ascending = orders->rows(field);
    auto take = [&](size_t position) {
        const quint32 row = ascending[position];
        if (kept.empty() || kept[row]) out.push_back(row);
    };
    if (!query.descending) {
        for (size_t i = 0; i < n; ++i) take(i);
        return out;
    }
    for (size_t end = n; end > 0;) {
        size_t start = end - 1;
        while (start > 0 && !orders->startsRun(field, start)) --start;
        for (size_t i = start; i < end; ++i) take(i);
        end = start;
    }
    return out;
}

}  // namespace kalvero::store
