#include "store/heldselect.h"

#include "store/unicodefold.h"

#include <algorithm>

namespace kalvero::store {

namespace {

using Kind = EntryTable::Kind;

// Rows between two questions to goOn: some milliseconds of work at most.
constexpr size_t kRowsBetweenChecks = 16384;
// How far ahead of the row being filtered its successor's text is fetched.
constexpr size_t kPrefetchRows = 8;
// Items between two looks at the cancel flag while sorting.
constexpr size_t kItemsBetweenChecks = 65536;

// The texts of one column folded, as compareNoCase() compares them, and
// written out as UTF-8: code points keep their order in UTF-8's bytes, so
// the folded texts sort byte by byte, a text before any longer one it begins.
struct FoldedColumn {
    std::string bytes;
    std::vector<size_t> start;
    std::vector<quint32> length;
    std::vector<quint32> rows;  // the table row of each text
};

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void appendFolded(std::string& out, std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        if (*p < 0x80) {
            out += static_cast<char>(nextFoldedChar(p, end));
            continue;
        }
        appendUtf8(out, nextFoldedChar(p, end));
    }
}

// One text being sorted: eight of its folded bytes from the depth reached,
// big-endian, and how many bytes it has left there (9: more than eight).
struct SortItem {
    quint64 key;
    quint32 text;
    quint32 tail;
};

void readChunk(const FoldedColumn& column, size_t depth, SortItem& item) {
    const size_t length = column.length[item.text];
    const size_t rest = length > depth ? length - depth : 0;
    const size_t n = std::min<size_t>(rest, 8);
    const char* p = column.bytes.data() + column.start[item.text] + depth;
    quint64 key = 0;
    for (size_t i = 0; i < 8; ++i) key = key << 8 | (i < n ? static_cast<unsigned char>(p[i]) : 0u);
    item.key = key;
    item.tail = static_cast<quint32>(rest > 8 ? 9 : rest);
}

// Sorts the folded texts eight bytes at a time: every range of texts that
// agreed so far is sorted by its next eight bytes, and the ranges that still
// agree and go on go round again. A text that ends sorts before one that goes
// on; equal texts end in row order. False when cancelled.
bool sortTexts(const FoldedColumn& column, std::vector<SortItem>& items,
               const std::atomic<bool>& cancelled) {
    struct Range {
        size_t lo, hi, depth;
    };
    std::vector<Range> ranges{{0, items.size(), 0}};
    size_t sinceCheck = 0;
    auto same = [](const SortItem& a, const SortItem& b) {
        return a.key == b.key && a.tail == b.tail;
    };
    while (!ranges.empty()) {
        const Range range = ranges.back();
        ranges.pop_back();
        sinceCheck += range.hi - range.lo;
        if (sinceCheck > kItemsBetweenChecks) {
            if (cancelled.load(std::memory_order_relaxed)) return false;
            sinceCheck = 0;
        }
        const auto first = items.begin() + static_cast<std::ptrdiff_t>(range.lo);
        const auto last = items.begin() + static_cast<std::ptrdiff_t>(range.hi);
        bool allSame = true;
        for (auto it = first; it != last; ++it) {
            readChunk(column, range.depth, *it);
            allSame = allSame && same(*it, *first);
        }
        // Texts come in row order and leave every pass in row order among equals.
        if (!allSame) {
            std::sort(first, last, [](const SortItem& a, const SortItem& b) {
                if (a.key != b.key) return a.key < b.key;
                if (a.tail != b.tail) return a.tail < b.tail;
                return a.text < b.text;
            });
        }
        for (size_t lo = range.lo; lo < range.hi;) {
            size_t hi = lo + 1;
            while (hi < range.hi && same(items[hi], items[lo])) ++hi;
            if (hi - lo > 1 && items[lo].tail > 8) ranges.push_back({lo, hi, range.depth + 8});
            lo = hi;
        }
    }
    return true;
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
        FoldedColumn column;
        // Folding keeps most texts at their length: room for them at once,
        // rather than a copy at every doubling.
        size_t total = 0;
        for (size_t row = 0; row < n; ++row) total += table.bytes(row, field).size();
        column.bytes.reserve(total + total / 16);
        column.start.reserve(n);
        column.length.reserve(n);
        column.rows.reserve(n);
        for (size_t row = 0; row < n; ++row) {
            const Kind kind = table.kind(row, field);
            if (kind == Kind::Null) {
                nulls.push_back(static_cast<quint32>(row));
            } else if (kind == Kind::Blob) {
                blobs.push_back(static_cast<quint32>(row));
            } else {
                column.rows.push_back(static_cast<quint32>(row));
                column.start.push_back(column.bytes.size());
                appendFolded(column.bytes, table.bytes(row, field));
                column.length.push_back(
                    static_cast<quint32>(column.bytes.size() - column.start.back()));
            }
            if (row % kItemsBetweenChecks == 0 && cancelled.load(std::memory_order_relaxed))
                return nullptr;
        }
        std::vector<SortItem> texts(column.rows.size());
        for (size_t i = 0; i < texts.size(); ++i) texts[i].text = static_cast<quint32>(i);
        if (!sortTexts(column, texts, cancelled)) return nullptr;
        // Blobs compare byte by byte, then by length, as string_view does.
        std::stable_sort(blobs.begin(), blobs.end(), [&](quint32 a, quint32 b) {
            return table.bytes(a, field) < table.bytes(b, field);
        });

        std::vector<quint32>& rows = orders->rows_[field - 1];
        std::vector<bool>& starts = orders->runStarts_[field - 1];
        rows.reserve(n);
        starts.reserve(n);
        for (size_t i = 0; i < nulls.size(); ++i) {
            rows.push_back(nulls[i]);
            starts.push_back(i == 0);
        }
        auto foldedText = [&column](quint32 text) {
            return std::string_view(column.bytes.data() + column.start[text], column.length[text]);
        };
        for (size_t i = 0; i < texts.size(); ++i) {
            rows.push_back(column.rows[texts[i].text]);
            starts.push_back(i == 0 || foldedText(texts[i - 1].text) != foldedText(texts[i].text));
        }
        for (size_t i = 0; i < blobs.size(); ++i) {
            rows.push_back(blobs[i]);
            starts.push_back(i == 0 ||
                             table.bytes(blobs[i - 1], field) != table.bytes(blobs[i], field));
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
                                               const std::function<bool()>& goOn,
                                               const std::vector<bool>* removed,
                                               const std::vector<quint32>* within) {
    const std::vector<Clause> clauses = clausesOf(query.search);
    if (removed && removed->size() != table.size()) removed = nullptr;
    const size_t n = table.size();
    auto kept = [&](size_t row) {
        return !(removed && (*removed)[row]) && passes(table, row, clauses);
    };
    // Rows lie one after another, but of all lengths, so the processor cannot
    // guess where the next row's text starts: it is told a few rows ahead.
    auto prefetch = [&](size_t row) {
        if (row < n && !clauses.empty())
            __builtin_prefetch(table.bytes(row, clauses.front().field).data());
    };
    std::vector<quint32> out;
    if (!goOn()) return std::nullopt;

    if (within) {
        for (size_t i = 0; i < within->size(); ++i) {
            if (i % kRowsBetweenChecks == kRowsBetweenChecks - 1 && !goOn()) return std::nullopt;
            // The record of a row further on first, then the text of one whose
            // record has arrived by now.
            if (i + 2 * kPrefetchRows < within->size())
                table.prefetchRow((*within)[i + 2 * kPrefetchRows]);
            if (i + kPrefetchRows < within->size()) prefetch((*within)[i + kPrefetchRows]);
            const quint32 row = (*within)[i];
            if (row < n && kept(row)) out.push_back(row);
        }
        return out;
    }

    if (query.sortColumn == 1) {
        for (size_t row = 0; row < n; ++row) {
            if (row % kRowsBetweenChecks == kRowsBetweenChecks - 1 && !goOn()) return std::nullopt;
            prefetch(row + kPrefetchRows);
            if (kept(row)) out.push_back(static_cast<quint32>(row));
        }
        return out;
    }
    if (!orders || query.sortColumn < 2 || query.sortColumn > 5) return std::nullopt;

    // Which rows pass, found in table order, where the texts lie one after another.
    std::vector<bool> passing;
    if (!clauses.empty() || removed) {
        passing.resize(n);
        for (size_t row = 0; row < n; ++row) {
            if (row % kRowsBetweenChecks == kRowsBetweenChecks - 1 && !goOn()) return std::nullopt;
            prefetch(row + kPrefetchRows);
            passing[row] = kept(row);
        }
    }
    const int field = query.sortColumn - 1;
    const std::vector<quint32>& ascending = orders->rows(field);
    auto take = [&](size_t position) {
        const quint32 row = ascending[position];
        if (passing.empty() || passing[row]) out.push_back(row);
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

namespace kalvero::store {

bool narrows(const SearchTexts& from, const SearchTexts& to) {
    const std::pair<const QString*, const QString*> boxes[] = {
        {&from.name, &to.name},
        {&from.file, &to.file},
        {&from.category, &to.category},
        {&from.description, &to.description}};
    for (const auto& [before, now] : boxes)
        if (!before->isEmpty() && !now->contains(*before)) return false;
    return true;
}

}  // namespace kalvero::store
