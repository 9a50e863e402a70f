// The RAII pieces every store operation is built from: a pooled connection that always
// goes back, db_lock held round it, and a transaction that rolls back unless committed.
// Declare them in this order so they end in reverse: statements, transaction,
// connection, lock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

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

// db_lock, then one pooled connection: the frame of a store operation. Nothing that
// reaches the platform or the interface runs while db_lock is held: such calls are
// handed to after() and run, in order, once the session has let go of the lock.
class store_session {
public:
    store_session();
    ~store_session();
    store_session(const store_session&) = delete;
    store_session& operator=(const store_session&) = delete;

    SQLite::Database& db() { return connection_->db(); }
    void after(std::function<void()> call) { deferred_.push_back(std::move(call)); }

private:
    std::unique_lock<std::mutex> lock_;
    std::optional<pooled_connection> connection_;
    std::vector<std::function<void()>> deferred_;
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
