#include "core_lib/store/db_session.h"

#include <sqlite3.h>

#include "core_lib/foundation/run_logged.h"
#include "core_lib/store/storage_problems.h"

namespace vandrel {

store_session::store_session() : lock_((db_pool_prepare(), db_lock())) {
    connection_.emplace();
    // A set-up that repaired the database on this acquire is told once the lock is free.
    std::vector<db_repair> repairs = db_pool_take_repairs();
    if (!repairs.empty()) {
        after([repairs = std::move(repairs)] {
            for (const db_repair& repair : repairs) report_storage_problem(repair.path, repair.message);
        });
    }
}

store_session::~store_session() {
    connection_.reset();
    lock_.unlock();
    for (auto& call : deferred_) run_logged("store notice", call);
}

db_transaction::db_transaction(SQLite::Database& db) : db_(db) { db_.exec("BEGIN TRANSACTION"); }

db_transaction::~db_transaction() {
    if (done_) return;
    sqlite3* handle = db_.getHandle();
    if (sqlite3_get_autocommit(handle) == 0) sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
}

void db_transaction::commit() {
    db_.exec("END TRANSACTION");
    done_ = true;
}

std::string column_text(SQLite::Statement& statement, int index) {
    SQLite::Column column = statement.getColumn(index);
    if (column.isNull()) return std::string();
    return column.getString();
}

std::int64_t column_int64(SQLite::Statement& statement, int index) {
    SQLite::Column column = statement.getColumn(index);
    if (column.isNull()) return 0;
    return column.getInt64();
}

}  // namespace vandrel
