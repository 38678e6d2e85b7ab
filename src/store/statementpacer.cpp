#include "store/statementpacer.h"

#include <algorithm>
#include <utility>

namespace kalvero::store {

namespace {
// Instructions of the engine's virtual machine between two looks at the
// clock: a few microseconds of work, so a look costs next to nothing.
constexpr int kInstructionsBetweenPolls = 1000;
}  // namespace

StatementPacer::StatementPacer(sqlite3* db, int intervalMs, Turn turn)
    : db_(db),
      interval_(std::chrono::milliseconds(std::max(0, intervalMs))),
      due_(Clock::now() + interval_),
      turn_(std::move(turn)),
      outer_(active_) {
    sqlite3_progress_handler(db_, kInstructionsBetweenPolls, &StatementPacer::onProgress, this);
    active_ = this;
}

StatementPacer::~StatementPacer() {
    sqlite3_progress_handler(db_, 0, nullptr, nullptr);
    active_ = outer_;
}

int StatementPacer::onProgress(void* self) {
    return static_cast<StatementPacer*>(self)->poll() ? 0 : 1;
}

bool StatementPacer::poll() {
    if (stopped_) return false;
    // The turn's own events never start another turn inside it.
    if (inTurn_ || Clock::now() < due_) return true;
    inTurn_ = true;
    bool goOn = false;
    try {
        goOn = turn_();
    } catch (...) {
        // Nothing may be thrown through the engine: stop the statement and
        // hand the failure over once the engine has returned.
        failure_ = std::current_exception();
    }
    inTurn_ = false;
    due_ = Clock::now() + interval_;
    if (!goOn) stopped_ = true;
    return goOn;
}

}  // namespace kalvero::store
