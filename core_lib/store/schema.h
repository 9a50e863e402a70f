// The schema of "app.db": eleven tables made with their key column, then every other
// column added one statement at a time (so an older file gains exactly what it lacks),
// then the indexes that keep the hot reads independent of the history's size.
#pragma once

#include <string>

#include <SQLiteCpp/Database.h>

namespace vandrel {

// Runs the create statements in order; the first failure throws.
void create_tables(SQLite::Database& db);
// Runs each add-column statement, ignoring the failure of a column already there; any
// other failure (the file locked or read-only) throws.
void add_columns(SQLite::Database& db);
// Runs each index statement, ignoring its failure (an index only speeds reads up).
void add_indexes(SQLite::Database& db);

// Integrity check: what is wrong with the file, "" when nothing is. Damaged when "PRAGMA
// integrity_check" answers more than five characters or SQLite finds the file corrupt or
// not a database at all. A check that cannot run for another reason (the file locked by
// another program, unreadable, an I/O error) says nothing of the file and throws
// SQLite::Exception, so that the file is left as it is.
std::string database_damage(SQLite::Database& db);

}  // namespace vandrel
