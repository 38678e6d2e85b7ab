#include "window/listsnapshot.h"

#include "store/catalogue.h"
#include "store/unicodefold.h"
#include "window/listview1.h"

#include <malloc.h>
#include <sys/resource.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace kalvero::window {

namespace {
// Sorting yields to the window and to whatever else the user runs, as imports do.
constexpr int kSortNice = 10;
// An earlier answer is looked through instead of the whole table when it
// holds at most this share of the rows (one in so many).
constexpr size_t kNarrowingShare = 4;
}  // namespace

struct ListSnapshot::Sorting {
    std::atomic<bool> cancelled = false;
    mutable std::mutex mutex;
    mutable std::condition_variable done;
    bool finished = false;
    std::unique_ptr<store::ColumnOrders> orders;
};

ListSnapshot::ListSnapshot() = default;

ListSnapshot::~ListSnapshot() {
    drop();
    for (Retired& r : retired_) r.thread.join();
}

void ListSnapshot::beforeStatement(store::Catalogue& catalogue, const store::ListQuery& query) {
    pending_.reset();
    if (!query.isWhole()) return;
    try {
        if (!watch_.isOpen()) watch_.open(catalogue.openReader(), catalogue.filePath());
        // The stamp comes first: a change of the schema after it shows in the next one.
        pending_ = watch_.stamp();
        if (pending_ && !store::isPlainCatalogue(watch_.connection())) pending_.reset();
    } catch (const store::DbError&) {
        // A file the second connection cannot read is never kept; the load
        // itself says what is wrong with it.
        pending_.reset();
        watch_.close();
    }
}

void ListSnapshot::keep(std::shared_ptr<const store::EntryTable> table, const QStringList& titles) {
    drop();
    if (!pending_ || !table) return;
    baseline_ = *pending_;
    pending_.reset();
    table_ = std::move(table);
    titles_ = titles;
    sorting_ = std::make_shared<Sorting>();
}

void ListSnapshot::startSorting() {
    if (!sorting_ || sorter_.joinable()) return;
    sorter_ = std::thread([sorting = sorting_, table = table_] {
        setpriority(PRIO_PROCESS, 0, kSortNice);
        store::prepareFolding();
        std::unique_ptr<store::ColumnOrders> orders =
            store::ColumnOrders::build(*table, sorting->cancelled);
        // The sort's scratch memory goes back to the system, not to this
        // thread's heap, where nothing else would use it again.
        malloc_trim(0);
        {
            const std::lock_guard lock(sorting->mutex);
            sorting->orders = std::move(orders);
            sorting->finished = true;
        }
        sorting->done.notify_all();
    });
}

void ListSnapshot::drop() {
    // A sort in the middle of a pass may take a tenth of a second to look at
    // its flag again: the window does not wait for it.
    std::erase_if(retired_, [](Retired& r) {
        {
            const std::lock_guard lock(r.sorting->mutex);
            if (!r.sorting->finished) return false;
        }
        r.thread.join();
        return true;
    });
    if (sorter_.joinable()) {
        sorting_->cancelled = true;
        retired_.push_back({std::move(sorter_), sorting_});
    }
    sorting_.reset();
    table_.reset();
    removed_ = {};
    lastQuery_.reset();
    lastRows_ = {};
    titles_.clear();
}

std::optional<store::ChangeWatch::Stamp> ListSnapshot::changeAlone(
    store::Catalogue& catalogue, const std::function<void()>& change) {
    // The catalogue connection's data_version changes only for other
    // connections' commits. Read before the watch's stamp and again after
    // it, it shows that no commit but ours came between the stamp that
    // proves the kept table fresh and the one taken after our commit.
    qint64 before = 0;
    std::optional<store::ChangeWatch::Stamp> fresh;
    try {
        before = catalogue.dataVersion();
        fresh = watch_.stamp();
    } catch (const store::DbError&) {
        fresh.reset();  // what the change meets, it reports itself
    }
    change();
    // The change is in the file now: nothing that fails from here on may say otherwise.
    std::optional<store::ChangeWatch::Stamp> after;
    bool alone = false;
    try {
        after = watch_.stamp();
        alone = fresh && *fresh == baseline_ && after && catalogue.dataVersion() == before;
    } catch (const store::DbError&) {
        alone = false;
    }
    if (!alone) {
        drop();
        return std::nullopt;
    }
    return after;
}

void ListSnapshot::writeBesideEntries(store::Catalogue& catalogue,
                                      const std::function<void()>& write) {
    if (!table_) {
        write();
        return;
    }
    if (const auto after = changeAlone(catalogue, write)) baseline_ = *after;
}

void ListSnapshot::deleteEntry(store::Catalogue& catalogue, const QString& sql, const QString& id) {
    if (!table_) {
        catalogue.change(sql);
        return;
    }
    int changed = 0;
    const std::optional<store::ChangeWatch::Stamp> after = changeAlone(catalogue, [&] {
        catalogue.change(sql);
        changed = catalogue.changes();
    });
    if (!after) return;
    if (changed == 1) {
        // Rows are in ID order: find the entry by halving.
        bool ok = false;
        const qint64 wanted = id.toLongLong(&ok);
        size_t lo = 0, hi = table_->size();
        while (ok && lo < hi) {
            const size_t mid = lo + (hi - lo) / 2;
            const std::string_view text = table_->bytes(mid, 0);
            const qint64 at =
                QByteArray(text.data(), static_cast<qsizetype>(text.size())).toLongLong();
            if (at < wanted)
                lo = mid + 1;
            else
                hi = mid;
        }
        const std::string_view found =
            lo < table_->size() ? table_->bytes(lo, 0) : std::string_view();
        if (!ok ||
            QByteArray(found.data(), static_cast<qsizetype>(found.size())).toLongLong() != wanted) {
            drop();
            return;
        }
        if (removed_.empty()) removed_.resize(table_->size());
        removed_[lo] = true;
    } else if (changed != 0) {
        drop();
        return;
    }
    baseline_ = *after;
}

bool ListSnapshot::canAnswer(const store::ListQuery& query) {
    if (!table_) return false;
    if (query.sortColumn < 1 || query.sortColumn > store::EntryTable::kMaxFields) return false;
    const std::optional<store::ChangeWatch::Stamp> now = watch_.stamp();
    if (!now || *now != baseline_) {
        drop();
        return false;
    }
    return true;
}

bool ListSnapshot::answer(const store::ListQuery& query, ListView1& list, int turnIntervalMs,
                          const std::function<bool()>& turn) {
    using Clock = std::chrono::steady_clock;
    // Held here: a turn's events may let go of what is kept meanwhile.
    const std::shared_ptr<const store::EntryTable> table = table_;
    const std::shared_ptr<Sorting> sorting = sorting_;
    const QStringList titles = titles_;
    if (!table || !sorting) return false;
    const auto interval = std::chrono::milliseconds(std::max(0, turnIntervalMs));
    Clock::time_point due = Clock::now() + interval;
    auto goOn = [&] {
        if (Clock::now() < due) return true;
        const bool go = turn();
        due = Clock::now() + interval;
        return go;
    };

    const store::ColumnOrders* orders = nullptr;
    if (query.sortColumn > 1) {
        // The orders are still being built after the last whole load: wait
        // for them, letting the window answer meanwhile.
        startSorting();
        std::unique_lock lock(sorting->mutex);
        while (!sorting->finished) {
            sorting->done.wait_until(lock, due);
            lock.unlock();
            if (!goOn()) return false;
            lock.lock();
        }
        orders = sorting->orders.get();
        if (!orders) return false;
    }
    const std::vector<bool> removed = removed_;
    // Rows an earlier answer kept, in the order this one wants, when it can
    // only lose some. Rows picked out here and there are slower to reach than
    // rows one after another: only a few of them are worth it.
    const bool narrowing = lastQuery_ && lastQuery_->sortColumn == query.sortColumn &&
                           lastQuery_->descending == query.descending &&
                           lastRows_.size() <= table->size() / kNarrowingShare &&
                           store::narrows(lastQuery_->search, query.search);
    const std::vector<quint32> within = narrowing ? lastRows_ : std::vector<quint32>();
    std::optional<std::vector<quint32>> rows =
        store::selectHeld(*table, orders, query, goOn, removed.empty() ? nullptr : &removed,
                          narrowing ? &within : nullptr);
    if (!rows) return false;
    // Kept while the table is: an answer keeps meaning the same rows
    // whatever came between, our own deletes being left out again anyway.
    if (table_ == table && rows->size() <= table->size() / kNarrowingShare) {
        lastQuery_ = query;
        lastRows_ = *rows;
    }
    if (!rows->empty()) {
        // Titles as the select gives them, as a load from the file sets them.
        for (const QString& title : titles) list.addColumn(title);
        list.setColumnWidthTwips(1, 1);
    }
    if (query.sortColumn == 1 && rows->size() == table->size())
        list.rows()->stageTable(table);
    else
        list.rows()->stageRowsOf(table, std::move(*rows));
    return true;
}

bool ListSnapshot::ordersReady() const {
    if (!sorting_) return false;
    const std::lock_guard lock(sorting_->mutex);
    return sorting_->orders != nullptr;
}

void ListSnapshot::waitForOrders() {
    if (!sorting_) return;
    startSorting();
    std::unique_lock lock(sorting_->mutex);
    sorting_->done.wait(lock, [this] { return sorting_->finished; });
}

size_t ListSnapshot::ordersBytes() const {
    if (!sorting_) return 0;
    const std::lock_guard lock(sorting_->mutex);
    return sorting_->orders ? sorting_->orders->heapBytes() : 0;
}

}  // namespace kalvero::window
