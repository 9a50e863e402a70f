// The config table: one text value per text key. Every failure, reaching the database
// or running the statement, is an SQLite::Exception; only a missing key reads as "".
// With lock false the caller must already hold db_lock.
#pragma once

#include <string>

namespace vandrel {

void db_config_set(bool lock, std::string key, std::string value);
std::string db_config_get(bool lock, std::string key);
void db_config_delete(bool lock, std::string key);

}  // namespace vandrel
