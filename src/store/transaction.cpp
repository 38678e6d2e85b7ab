#include "store/transaction.h"

namespace kalvero::store {

Transaction::Transaction(Connection& connection) : connection_(connection) {
    connection_.exec("BEGIN IMMEDIATE");
}

Transaction::~Transaction() {
    // The engine may have rolled back already (after some errors it does);
    // a ROLLBACK without a transaction then fails harmlessly.
    if (open_ && connection_.isOpen())
        sqlite3_exec(connection_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void Transaction::commit() {
    open_ = false;
    try {
        connection_.exec("COMMIT");
    } catch (...) {
        sqlite3_exec(connection_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

}  // namespace kalvero::store
