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

void ListSnapshot::deleteEntry(store::Catalogue& catalogue, const QString& sql, const QString& id) {
    if (!table_) {
        catalogue.change(sql);
        return;
    }
    // The catalogue connection's data_version changes only for other
    // connections' commits. Read before the watch's stamp and again after
    // it, it shows that no commit but ours came between the stamp that
    // proves the kept table fresh and the one taken after our commit.
    const qint64 before = catalogue.dataVersion();
    const std::optional<store::ChangeWatch::Stamp> fresh = watch_.stamp();
    catalogue.change(sql);
    const int changed = catalogue.changes();
    const std::optional<store::ChangeWatch::Stamp> after = watch_.stamp();
    const bool alone = fresh && *fresh == baseline_ && after && catalogue.dataVersion() == before;
    if (!alone) {
        drop();
        return;
    }
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
    // Rows an earlier answer kept, in the order this one wants, when it can only lose some.
    const bool narrowing = lastQuery_ && lastQuery_->sortColumn == query.sortColumn &&
                           lastQuery_->descending == query.descending &&
                           store::narrows(lastQuery_->search, query.search);
    const std::vector<quint32> within = narrowing ? lastRows_ : std::vector<quint32>();
    std::optional<std::vector<quint32>> rows =
        store::selectHeld(*table, orders, query, goOn, removed.empty() ? nullptr : &removed,
                          narrowing ? &within : nullptr);
    if (!rows) return false;
    if (table_ == table) {
        lastQuery_ = query;
        lastRows_ = *rows;
        if (query.isWhole()) {
            lastQuery_.reset();
            lastRows_ = {};
        }
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

void ListSnapshot::waitForOrders() const {
    if (!sorting_) return;
    std::unique_lock lock(sorting_->mutex);
    sorting_->done.wait(lock, [this] { return sorting_->finished; });
}

size_t ListSnapshot::ordersBytes() const {
    if (!sorting_) return 0;
    const std::lock_guard lock(sorting_->mutex);
    return sorting_->orders ? sorting_->orders->heapBytes() : 0;
}

}  // namespace kalvero::window
