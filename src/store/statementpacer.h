#pragma once

#include <sqlite3.h>

#include <chrono>
#include <exception>
#include <functional>

namespace kalvero::store {

// Hands control back to the caller at a bounded rate while a statement runs
// inside the engine, so that a window can paint and answer during a long
// scan or sort, and stops the statement once the caller no longer wants it.
//
// The engine calls us every few thousand instructions of its virtual machine;
// a sort runs inside one instruction, so our collations tick as well (see
// collationTick). Both look at the clock only, and run the turn when it is due.
class StatementPacer {
public:
    // Returns false when the running statement's result is no longer wanted.
    using Turn = std::function<bool()>;

    // Installs itself on `db` until destroyed. `turn` runs about every
    // `intervalMs` while a statement works; 0 runs it at every check.
    StatementPacer(sqlite3* db, int intervalMs, Turn turn);
    ~StatementPacer();
    StatementPacer(const StatementPacer&) = delete;
    StatementPacer& operator=(const StatementPacer&) = delete;

    // Runs the turn if it is due. False once the statement is to stop: the
    // engine then ends it with SQLITE_INTERRUPT at its next check.
    bool poll();
    bool stopped() const { return stopped_; }
    // Throws what the turn threw, if it threw; the statement was stopped then.
    void rethrowTurnFailure() const {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    friend bool collationTick();
    using Clock = std::chrono::steady_clock;

    static int onProgress(void* self);

    sqlite3* db_;
    Clock::duration interval_;
    Clock::time_point due_;
    Turn turn_;
    bool stopped_ = false;
    bool inTurn_ = false;
    unsigned ticks_ = 0;
    std::exception_ptr failure_;
    StatementPacer* outer_;

    // The pacer installed last on this thread, which the collations tick (a
    // sort that the engine hands to a worker thread has none). Pacers nest:
    // each remembers the one it hides in outer_.
    static inline thread_local StatementPacer* active_ = nullptr;
};

// How many comparisons a collation makes between two looks at the clock: a
// comparison of short texts takes some tens of nanoseconds.
inline constexpr unsigned kComparisonsBetweenPolls = 1024;

// Called by our collations once per comparison. True once the running
// statement is being stopped: its order no longer matters, and comparing
// nothing lets the engine finish an abandoned sort quickly.
inline bool collationTick() {
    StatementPacer* p = StatementPacer::active_;
    if (!p) return false;
    if (++p->ticks_ < kComparisonsBetweenPolls) return p->stopped_;
    p->ticks_ = 0;
    return !p->poll();
}

}  // namespace kalvero::store
