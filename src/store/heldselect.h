#pragma once

#include "store/entrytable.h"
#include "store/statements.h"

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

namespace kalvero::store {

// What one load of the list asks for, as its select states it.
struct ListQuery {
    SearchTexts search;
    int sortColumn = 1;  // the select list's position, 1 to 5
    bool descending = false;

    // The whole table in ID order: a result that can answer every later query.
    bool isWhole() const {
        return sortColumn == 1 && search.name.isEmpty() && search.file.isEmpty() &&
               search.category.isEmpty() && search.description.isEmpty();
    }
};

// For each text column of a whole table (rows in ID order), its rows in the
// order the list's select gives with "order by" that column: NULLs first,
// then texts as compareNoCase() orders them (our NOCASE), then blobs byte by
// byte; equal values in ID order. The engine's sorter keeps rows that compare
// equal in the order it read them, and it reads the table in ID order; for
// "Desc" it only turns the comparison round, so equal rows stay in ID order
// there too. A descending walk therefore takes the runs of equal values from
// the last to the first and each run forwards, which is why the runs' starts
// are kept beside the order.
class ColumnOrders {
public:
    // Sorts fields 1 to 4 of `table`. Null as soon as `cancelled` is seen set.
    static std::unique_ptr<ColumnOrders> build(const EntryTable& table,
                                               const std::atomic<bool>& cancelled);

    // Table rows of field `field` (1 to 4), ascending.
    const std::vector<quint32>& rows(int field) const { return rows_[field - 1]; }
    // Whether ascending position `position` begins a run of equal values.
    bool startsRun(int field, size_t position) const { return runStarts_[field - 1][position]; }
    size_t heapBytes() const;

private:
    std::vector<quint32> rows_[4];
    std::vector<bool> runStarts_[4];
};

// The rows of `table` (a whole table, rows in ID order) that the list's
// select for `query` gives, in its order: each non-empty search text kept as
// LIKE '%text%' with our folding (a NULL field never matches), sorted by ID or
// through `orders`, which a sort by another column needs. `goOn` is asked
// every few thousand rows, and first before any work; once it answers false
// the work stops and nothing comes back. Rows marked in `removed` (entries
// deleted since the table was read) are left out. With `within`, only those
// rows are looked at, in their order: the answer to an earlier query that
// this one narrows, sorted the same way.
std::optional<std::vector<quint32>> selectHeld(const EntryTable& table, const ColumnOrders* orders,
                                               const ListQuery& query,
                                               const std::function<bool()>& goOn,
                                               const std::vector<bool>* removed = nullptr,
                                               const std::vector<quint32>* within = nullptr);

// Whether every row that `to` keeps is kept by `from` too: each search text
// of `from` is empty or lies within the same box's text of `to` (then any
// match of LIKE '%to%' holds a match of LIKE '%from%').
bool narrows(const SearchTexts& from, const SearchTexts& to);

}  // namespace kalvero::store
