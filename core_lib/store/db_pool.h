// The pool of ten connections to "app.db" and db_lock, the one lock that serialises
// every store operation of the running core. The first acquire sets the database up
// (health check, repair, schema): a damaged file is kept aside under another name and
// a new one made; a file that cannot be checked (locked by another program, say) is
// left alone and the set-up fails, to be tried again at the next acquire.
// db_pool_shutdown closes every connection (the log checkpointed into the file) so the
// next acquire starts afresh.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_set>
#include <vector>

#include <SQLiteCpp/Database.h>

namespace vandrel {

// What a set-up did to a damaged database, for the interface.
struct db_repair {
    std::string path;
    std::string message;
};

// Lock order: settings_mutex, db_lock, the pool's mutex, SQLite's temporary folder.
struct db_pool_state {
    std::mutex db_lock;
    // The rest is guarded by `mutex`.
    std::mutex mutex;
    std::deque<std::shared_ptr<SQLite::Database>> idle;
    std::unordered_set<std::shared_ptr<SQLite::Database>> in_use;
    std::string path;
    std::string data_folder;       // where "app.db" is made, asked once before a set-up
    std::string temporary_folder;  // where SQLite puts its temporary files
    bool first_open = true;
    std::vector<db_repair> repairs;  // not yet reported
    std::condition_variable returned;
};

// The running core's db_lock.
std::mutex& db_lock();

// Asks the platform for the folders of the next set-up, if one is due; called before
// db_lock is taken, so that no platform call is made while it is held.
void db_pool_prepare();

inline constexpr std::size_t db_pool_capacity = 10;

// Open flags: the set-up connection (first open and after a repair) and pool connections.
inline constexpr int db_open_setup_flags = 0x28006;   // read-write, create, no mutex, shared cache
inline constexpr int db_open_repair_flags = 0x20006;  // read-write, create, shared cache
inline constexpr int db_open_pool_flags = 0x20006;
inline constexpr int db_busy_timeout_ms = 2000;

// One idle connection, first in first out; runs the set-up on first use. Throws
// SQLite::Exception when the database cannot be opened or set up, or when no
// connection comes back to an empty pool within the busy time-out. Never returns null.
std::shared_ptr<SQLite::Database> db_pool_acquire();

// Gives a connection back (to the back of the queue). A transaction still open on it is
// rolled back first; a connection that cannot be brought back to a clean state, or that
// belongs to a pool shut down since, is closed instead and replaced.
void db_pool_release(std::shared_ptr<SQLite::Database> connection);

// Closes every pooled connection and forgets the database path, so that the next acquire
// sets up the database of the data folder as it is then. Takes db_lock, so it waits for
// the running store operation; must not be called while holding db_lock.
void db_pool_shutdown();

// Checkpoints the log and closes the idle connections; the caller holds the pool's mutex.
void close_idle_connections(db_pool_state& pool);

// The repairs made since the last call (a damaged database put aside for a new one).
std::vector<db_repair> db_pool_take_repairs();

// Idle and handed-out connection counts, for health checks.
std::size_t db_pool_idle_count();
std::size_t db_pool_in_use_count();

// Full path of the database file; empty before the first acquire.
std::string db_pool_path();

// Closes a connection that nobody else holds: every statement still prepared on it is
// finalized first, so the close cannot be refused as busy. A connection still shared
// elsewhere is only let go.
void close_connection(std::shared_ptr<SQLite::Database>& connection);

}  // namespace vandrel
