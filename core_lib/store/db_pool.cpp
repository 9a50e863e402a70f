#include "core_lib/store/db_pool.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <unordered_set>
#include <utility>

#include <sqlite3.h>
#include <unistd.h>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/schema.h"
#include "core_lib/store/store_state.h"

namespace vandrel {

namespace {

using connection_ptr = std::shared_ptr<SQLite::Database>;

db_pool_state& pool() { return current_store::get().pool; }

// SQLite's temporary folder is one setting of the whole process.
std::mutex& sqlite_temp_directory_mutex() {
    static std::mutex mutex;
    return mutex;
}

// SQLite puts its temporary files there; set before the first open of each set-up, while
// no connection of ours is open.
void set_sqlite_temp_directory(const std::string& folder) {
    std::lock_guard<std::mutex> lock(sqlite_temp_directory_mutex());
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

// A damaged database is put aside, never deleted: what it still holds may be read back
// by hand. Its log and journal go with it under the same name; the shared-memory index
// is only a cache of the log and goes. Returns the name it was kept under; throws when
// it could not be moved, so that no new database replaces it.
std::string keep_damaged_database(const std::string& path) {
    std::string aside = path + ".damaged-" + std::to_string(now_ms());
    for (int n = 1; ::access(aside.c_str(), F_OK) == 0; ++n)
        aside = path + ".damaged-" + std::to_string(now_ms()) + "-" + std::to_string(n);
    if (std::rename(path.c_str(), aside.c_str()) != 0) {
        throw SQLite::Exception("the database " + path + " is damaged and cannot be put aside: " + std::strerror(errno),
                                SQLITE_CANTOPEN);
    }
    for (const char* suffix : {"-journal", "-wal"}) std::rename((path + suffix).c_str(), (aside + suffix).c_str());
    std::remove((path + "-shm").c_str());
    return aside;
}

// The set-up's failure in words a person can act on, keeping SQLite's error code.
[[noreturn]] void throw_setup_failure(const std::string& folder, const std::string& path, const SQLite::Exception& e) {
    std::string text = "cannot open the database " + path + ": " + e.what();
    const int code = e.getErrorCode() & 0xff;
    if (code == SQLITE_BUSY || code == SQLITE_LOCKED) {
        text += " (another program holds it locked; it is left as it is and opened again on the next use)";
    } else if (::access(folder.c_str(), W_OK) != 0) {
        text += " (the data folder " + folder + " cannot be written: " + std::strerror(errno) + ")";
    }
    throw SQLite::Exception(text, e.getErrorCode());
}

// Opens the set-up connection, checks the file and puts a damaged one aside for a new
// one; a note of the repair is kept for the interface.
std::shared_ptr<SQLite::Database> open_checked(db_pool_state& p) {
    const std::string& db_path = p.path;
    auto setup = std::make_shared<SQLite::Database>(db_path, db_open_setup_flags, db_busy_timeout_ms);
    const std::string damage = database_damage(*setup);
    if (damage.empty()) return setup;
    close_connection(setup);
    const std::string aside = keep_damaged_database(db_path);
    p.repairs.push_back({db_path, "the database was damaged (" + damage + "); it was kept as " + aside +
                                      " and a new, empty database was made"});
    return std::make_shared<SQLite::Database>(db_path, db_open_repair_flags, db_busy_timeout_ms);
}

// Under the pool's mutex. Leaves first_open true unless the whole set-up succeeded, so
// that a failure anywhere is retried at the next acquire.
void run_setup(db_pool_state& p) {
    // Without db_pool_prepare the platform is asked here, under the locks.
    if (p.data_folder.empty()) p.data_folder = get_data_folder_path();
    if (p.temporary_folder.empty()) p.temporary_folder = get_local_folder_path();
    set_sqlite_temp_directory(p.temporary_folder);
    if (p.path.empty()) p.path = p.data_folder + "app.db";

    std::shared_ptr<SQLite::Database> setup;
    std::deque<connection_ptr> fresh;
    try {
        setup = open_checked(p);
        use_write_ahead_log(*setup);
        create_tables(*setup);
        add_columns(*setup);
        add_indexes(*setup);
        for (std::size_t i = 0; i < db_pool_capacity; ++i) {
            fresh.push_back(open_pool_connection(p.path));
        }
    } catch (const SQLite::Exception& e) {
        for (auto& connection : fresh) close_connection(connection);
        close_connection(setup);
        throw_setup_failure(p.data_folder, p.path, e);
    }
    close_connection(setup);
    p.idle = std::move(fresh);
    p.first_open = false;
}

// True when the connection is in autocommit mode again (no transaction left open).
bool end_open_transaction(SQLite::Database& connection) noexcept {
    sqlite3* handle = connection.getHandle();
    if (sqlite3_get_autocommit(handle) != 0) return true;
    sqlite3_exec(handle, "ROLLBACK", nullptr, nullptr, nullptr);
    return sqlite3_get_autocommit(handle) != 0;
}

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

std::mutex& db_lock() { return pool().db_lock; }

void db_pool_prepare() {
    db_pool_state& p = pool();
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        if (!p.first_open || !p.data_folder.empty()) return;
    }
    std::string data = get_data_folder_path();
    std::string temporary = get_local_folder_path();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.first_open || !p.data_folder.empty()) return;
    p.data_folder = std::move(data);
    p.temporary_folder = std::move(temporary);
}

void close_idle_connections(db_pool_state& p) {
    // Folds the write-ahead log into the file, so what was written is in "app.db" alone.
    if (!p.idle.empty()) {
        sqlite3_wal_checkpoint_v2(p.idle.front()->getHandle(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    }
    for (auto& connection : p.idle) close_connection(connection);
    p.idle.clear();
}

std::shared_ptr<SQLite::Database> db_pool_acquire() {
    db_pool_state& p = pool();
    std::unique_lock<std::mutex> lock(p.mutex);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(db_busy_timeout_ms);
    for (;;) {
        if (p.first_open) run_setup(p);
        if (!p.idle.empty()) break;
        if (p.returned.wait_until(lock, deadline) == std::cv_status::timeout && p.idle.empty() && !p.first_open) {
            throw SQLite::Exception("no idle database connection", SQLITE_BUSY);
        }
    }
    connection_ptr connection = std::move(p.idle.front());
    p.idle.pop_front();
    p.in_use.insert(connection);
    return connection;
}

void db_pool_release(std::shared_ptr<SQLite::Database> connection) {
    if (!connection) return;
    const bool clean = end_open_transaction(*connection);
    db_pool_state& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    auto it = p.in_use.find(connection);
    if (it == p.in_use.end()) {
        // Handed out by a pool that has been shut down since.
        close_connection(connection);
        return;
    }
    p.in_use.erase(it);
    if (!clean) {
        close_connection(connection);
        try {
            connection = open_pool_connection(p.path);
        } catch (const std::exception& e) {
            std::cerr << "database: could not replace a connection: " << e.what() << "\n";
            return;
        }
    }
    p.idle.push_back(std::move(connection));
    p.returned.notify_one();
}

void db_pool_shutdown() {
    db_pool_state& p = pool();
    std::lock_guard<std::mutex> store_lock(p.db_lock);
    std::lock_guard<std::mutex> lock(p.mutex);
    close_idle_connections(p);
    // Connections still out are closed when they come back.
    p.in_use.clear();
    p.path.clear();
    p.data_folder.clear();
    p.temporary_folder.clear();
    p.first_open = true;
    p.returned.notify_all();
}

std::vector<db_repair> db_pool_take_repairs() {
    db_pool_state& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    return std::exchange(p.repairs, {});
}

std::size_t db_pool_idle_count() {
    db_pool_state& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.idle.size();
}

std::size_t db_pool_in_use_count() {
    db_pool_state& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.in_use.size();
}

std::string db_pool_path() {
    db_pool_state& p = pool();
    std::lock_guard<std::mutex> lock(p.mutex);
    return p.path;
}

}  // namespace vandrel
