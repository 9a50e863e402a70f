// The RAII pieces every store operation is built from: a pooled connection that always
// goes back, db_lock held round it, and a transaction that rolls back unless committed.
// Declare them in this order so they end in reverse: statements, transaction,
// connection, lock.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include <SQLiteCpp/Database.h>
#include <SQLiteCpp/Statement.h>
#include <SQLiteCpp/VariadicBind.h>

#include "core_lib/store/db_pool.h"

namespace vandrel {

// One connection from the pool for the guard's lifetime (the caller holds db_lock).
class pooled_connection {
public:
    pooled_connection() : connection_(db_pool_acquire()) {}
    ~pooled_connection() { db_pool_release(std::move(connection_)); }
    pooled_connection(const pooled_connection&) = delete;
    pooled_connection& operator=(const pooled_connection&) = delete;

    SQLite::Database& db() { return *connection_; }

private:
    std::shared_ptr<SQLite::Database> connection_;
};

// db_lock, then one pooled connection: the frame of a store operation.
class store_session {
public:
    store_session() : lock_(db_lock()) {}
    SQLite::Database& db() { return connection_.db(); }

private:
    std::lock_guard<std::mutex> lock_;
    pooled_connection connection_;
};

// "BEGIN TRANSACTION" now, "END TRANSACTION" on commit, a rollback otherwise.
class db_transaction {
public:
    explicit db_transaction(SQLite::Database& db);
    ~db_transaction();
    db_transaction(const db_transaction&) = delete;
    db_transaction& operator=(const db_transaction&) = delete;

    void commit();

private:
    SQLite::Database& db_;
    bool done_ = false;
};

// Column i of the current row as text; NULL reads as "".
std::string column_text(SQLite::Statement& statement, int index);
// Column i as a 64-bit integer; NULL reads as 0.
std::int64_t column_int64(SQLite::Statement& statement, int index);

// Decimal text of a time or a count, as the store binds numbers.
inline std::string decimal(std::int64_t value) { return std::to_string(value); }
inline std::string decimal(std::uint64_t value) { return std::to_string(value); }

}  // namespace vandrel
