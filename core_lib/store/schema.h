// The schema of "app.db": eleven tables made with their key column, then every other
// column added one statement at a time (so an older file gains exactly what it lacks),
// then the indexes that keep the hot reads independent of the history's size.
#pragma once

#include <SQLiteCpp/Database.h>

namespace vandrel {

// Runs the create statements in order; the first failure throws.
void create_tables(SQLite::Database& db);
// Runs each add-column statement, ignoring its failure (a column already there).
void add_columns(SQLite::Database& db);
// Runs each index statement, ignoring its failure (an index only speeds reads up).
void add_indexes(SQLite::Database& db);

// Integrity check: damaged when "PRAGMA integrity_check" answers more than five
// characters or cannot run at all (a file that is not a database).
bool database_is_damaged(SQLite::Database& db) noexcept;

}  // namespace vandrel
