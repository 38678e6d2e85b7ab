#pragma once

#include "store/changewatch.h"
#include "store/entrytable.h"
#include "store/heldselect.h"

#include <QStringList>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

namespace kalvero::store {
class Catalogue;
}

namespace kalvero::window {

class ListView1;

// Every entry of the catalogue as the last load of the whole table read it,
// kept so that later loads (a key in the search bar, a header click) are
// answered from memory, with the same rows in the same order as their select.
// It answers only while the catalogue is provably as that load read it (see
// store::ChangeWatch); once it is not, everything kept is let go and loads
// read the file again. After each whole load the text columns are sorted on
// a worker thread, so that a header click becomes one pass over a kept order.
class ListSnapshot {
public:
    ListSnapshot();
    ~ListSnapshot();
    ListSnapshot(const ListSnapshot&) = delete;
    ListSnapshot& operator=(const ListSnapshot&) = delete;

    // Just before a load's statement runs on `catalogue` (open): when the
    // load reads the whole table, notes how the file stands, so that what
    // the load reads can be kept.
    void beforeStatement(store::Catalogue& catalogue, const store::ListQuery& query);
    // After that load has read all of its rows into `table`, titled `titles`.
    void keep(std::shared_ptr<const store::EntryTable> table, const QStringList& titles);
    // Starts sorting the kept table's columns on a worker thread, unless it
    // has started; a sort asked for meanwhile starts it itself.
    void startSorting();

    // Whether `query` can be answered from memory now. What is kept is let
    // go as soon as the catalogue is found changed.
    bool canAnswer(const store::ListQuery& query);
    // Puts the answer to `query` into `list`: its columns, and its rows staged
    // for the load to show. `turn` runs about every `turnIntervalMs` (first
    // at once when that is 0) and stops the answer by returning false. False
    // when stopped, or when the answer cannot be given after all (the caller
    // then reads the file).
    bool answer(const store::ListQuery& query, ListView1& list, int turnIntervalMs,
                const std::function<bool()>& turn);
    void drop();

    // Runs our own delete `sql` of entry `id` on `catalogue` (open), and keeps
    // what is held in step with it: the entry goes from the kept table too,
    // when nothing but this delete can have changed the file since it was
    // read. Otherwise everything kept is let go, as after any other change.
    // Throws what the delete throws.
    void deleteEntry(store::Catalogue& catalogue, const QString& sql, const QString& id);
    // Runs `write`, our own change of `catalogue` (open) that leaves every
    // entry's texts as they are (its facts, say), and keeps what is held
    // when nothing but it can have changed the file since it was read.
    // Throws what `write` throws.
    void writeBesideEntries(store::Catalogue& catalogue, const std::function<void()>& write);

    bool isHeld() const { return table_ != nullptr; }
    // Whether the kept table's sort orders are built.
    bool ordersReady() const;
    // Blocks until the orders are built or given up; for benchmarks.
    void waitForOrders();
    // Heap bytes of the sort orders.
    size_t ordersBytes() const;

private:
    struct Sorting;

    // Runs `change`; when it was the only change to the file since what is
    // held was read, the file's stamp after it. Lets everything go when not.
    std::optional<store::ChangeWatch::Stamp> changeAlone(store::Catalogue& catalogue,
                                                         const std::function<void()>& change);

    store::ChangeWatch watch_;
    std::optional<store::ChangeWatch::Stamp> pending_;
    store::ChangeWatch::Stamp baseline_;
    std::shared_ptr<const store::EntryTable> table_;
    // Rows of the table whose entries our own deletes removed since.
    std::vector<bool> removed_;
    // The last answer given, when it was not the whole table: a query that
    // narrows it needs to look at its rows only.
    std::optional<store::ListQuery> lastQuery_;
    std::vector<quint32> lastRows_;
    QStringList titles_;
    std::shared_ptr<Sorting> sorting_;
    std::thread sorter_;
    // Sorts given up on, left to notice it at their next look at the flag
    // rather than waited for; joined once they have.
    struct Retired {
        std::thread thread;
        std::shared_ptr<Sorting> sorting;
    };
    std::vector<Retired> retired_;
};

}  // namespace kalvero::window
