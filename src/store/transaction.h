#pragma once

#include "store/sqlitehandle.h"

namespace kalvero::store {

// How long a connection waits for another program's write lock before its
// statement fails with "database is locked". The window waits briefly: its
// user is looking at a frozen list meanwhile, and a failure says plainly
// what happened. The bulk tools wait long: an import or relink that runs
// beside another import or an open window should finish, not fail a batch,
// and nobody watches it frame by frame.
inline constexpr int kWindowBusyTimeoutMs = 3000;
inline constexpr int kBulkBusyTimeoutMs = 60000;

// One write transaction on a connection: BEGIN IMMEDIATE at construction
// (so the write lock is held before anything is read), COMMIT by commit(),
// and ROLLBACK on every other way out, exceptions included. Not copyable.
class Transaction {
public:
    explicit Transaction(Connection& connection);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;

    // Throws DbError when the commit fails; the transaction is rolled back then.
    void commit();

private:
    Connection& connection_;
    bool open_ = true;
};

}  // namespace kalvero::store
