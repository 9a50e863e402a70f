#include "core_lib/store/db_pool.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <iostream>
#include <unordered_set>
#include <utility>

#include <sqlite3.h>

#include "MeskRuntimeComponent/platform_services.h"
#include "core_lib/store/schema.h"

namespace vandrel {

std::mutex db_lock;
std::mutex db_pool_mutex;
std::mutex db_temp_dir_mutex;

namespace {

using connection_ptr = std::shared_ptr<SQLite::Database>;

// All guarded by db_pool_mutex.
std::deque<connection_ptr> db_pool;
std::unordered_set<connection_ptr> db_pool_in_use;
std::string db_path;
bool db_first_open = true;
std::condition_variable db_pool_returned;

// SQLite puts its temporary files there; set before the first open of each set-up, while
// no connection of ours is open.
void set_sqlite_temp_directory() {
    std::lock_guard<std::mutex> lock(db_temp_dir_mutex);
    const std::string folder = get_local_folder_path();
    if (sqlite3_temp_directory != nullptr && folder == sqlite3_temp_directory) return;
    char* previous = sqlite3_temp_directory;
    sqlite3_temp_directory = folder.empty() ? nullptr : sqlite3_mprintf("%s", folder.c_str());
    sqlite3_free(previous);
}

// A write-ahead log, so that a failed transaction can be rolled back and a crash leaves
// a consistent file, without a flush to disk on every commit.
void use_write_ahead_log(SQLite::Database& connection) {
    connection.exec("PRAGMA journal_mode = WAL");
    connection.exec("PRAGMA synchronous = NORMAL");
}

connection_ptr open_pool_connection(const std::string& path) {
    auto connection = std::make_shared<SQLite::Database>(path, db_open_pool_flags);
    const int rc = sqlite3_busy_timeout(connection->getHandle(), db_busy_timeout_ms);
    if (rc != SQLITE_OK) throw SQLite::Exception(connection->getHandle(), rc);
    use_write_ahead_log(*connection);
    return connection;
}

void remove_database_files(const std::string& path) {
    for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
        std::remove((path + suffix).c_str());
    }
}

// Under db_pool_mutex. Leaves db_first_open true unless the whole set-up succeeded, so
// that a failure anywhere is retried at the next acquire.
void run_setup() {
    set_sqlite_temp_directory();
    if (db_path.empty()) db_path = get_data_folder_path() + "app.db";

    auto setup = std::make_shared<SQLite::Database>(db_path, db_open_setup_flags);
    if (database_is_damaged(*setup)) {
        close_connection(setup);
        remove_database_files(db_path);
        setup = std::make_shared<SQLite::Database>(db_path, db_open_repair_flags);
    }
    use_write_ahead_log(*setup);
    create_tables(*setup);
    add_columns(*setup);
    add_indexes(*setup);

    std::deque<connection_ptr> fresh;
    for (std::size_t i = 0; i < db_pool_capacity; ++i) {
        fresh.push_back(open_pool_connection(db_path));
    }
    close_connection(setup);
    db_pool = std::move(fresh);
    db_first_open = false;
}

// True when the connection is in autocommit mode again (no transaction left open).
bool end_open_transaction(SQLite::Database& connection) noexcept {
    sqlite3* handle = connection.getHandle();
    if (sqlite3_get_autocommit(handle) != 0) return true;
    sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
    return sqlite3_get_autocommit(handle) != 0;
}

// At process exit the idle connections are closed the careful way.
struct pool_closer {
    ~pool_closer() {
        std::unique_lock<std::mutex> lock(db_pool_mutex, std::try_to_lock);
        if (!lock.owns_lock()) return;
        for (auto& connection : db_pool) close_connection(connection);
        db_pool.clear();
    }
} closer_at_exit;

}  // namespace

void close_connection(std::shared_ptr<SQLite::Database>& connection) {
    if (!connection) return;
    if (connection.use_count() == 1) {
        sqlite3* handle = connection->getHandle();
        // SQLite refuses to close a handle with statements still prepared on it.
        while (sqlite3_stmt* leftover = sqlite3_next_stmt(handle, nullptr)) {
            sqlite3_finalize(leftover);
        }
    }
    connection.reset();
}

std::shared_ptr<SQLite::Database> db_pool_acquire() {
    std::unique_lock<std::mutex> lock(db_pool_mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(db_busy_timeout_ms);
    for (;;) {
        if (db_first_open) run_setup();
        if (!db_pool.empty()) break;
        if (db_pool_returned.wait_until(lock, deadline) == std::cv_status::timeout &&
            db_pool.empty() && !db_first_open) {
            throw SQLite::Exception("no idle database connection", SQLITE_BUSY);
        }
    }
    connection_ptr connection = std::move(db_pool.front());
    db_pool.pop_front();
    db_pool_in_use.insert(connection);
    return connection;
}

void db_pool_release(std::shared_ptr<SQLite::Database> connection) {
    if (!connection) return;
    const bool clean = end_open_transaction(*connection);
    std::lock_guard<std::mutex> lock(db_pool_mutex);
    auto it = db_pool_in_use.find(connection);
    if (it == db_pool_in_use.end()) {
        // Handed out by a pool that has been shut down since.
        close_connection(connection);
        return;
    }
    db_pool_in_use.erase(it);
    if (!clean) {
        close_connection(connection);
        try {
            connection = open_pool_connection(db_path);
        } catch (const std::exception& e) {
            std::cerr << "database: could not replace a connection: " << e.what() << "\n";
            return;
        }
    }
    db_pool.push_back(std::move(connection));
    db_pool_returned.notify_one();
}

void db_pool_shutdown() {
    std::lock_guard<std::mutex> store_lock(db_lock);
    std::lock_guard<std::mutex> lock(db_pool_mutex);
    for (auto& connection : db_pool) close_connection(connection);
    db_pool.clear();
    // Connections still out are closed when they come back.
    db_pool_in_use.clear();
    db_path.clear();
    db_first_open = true;
    db_pool_returned.notify_all();
}

std::size_t db_pool_idle_count() {
    std::lock_guard<std::mutex> lock(db_pool_mutex);
    return db_pool.size();
}

std::size_t db_pool_in_use_count() {
    std::lock_guard<std::mutex> lock(db_pool_mutex);
    return db_pool_in_use.size();
}

std::string db_pool_path() {
    std::lock_guard<std::mutex> lock(db_pool_mutex);
    return db_path;
}

}  // namespace vandrel
