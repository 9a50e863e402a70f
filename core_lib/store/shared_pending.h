// Two small lists the user keeps: files shared to web-share clients (id = SHA-256 of
// the path) and paths chosen to send before a peer is chosen. Every change of the
// shared files raises shared_files_changed for the web-share server.
#pragma once

#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Entries {"fileurl", "filename"}; a path already shared keeps its row. Sends
// "shared_files_updated" and raises the change flag, also for an empty list.
void db_add_shared_files(const std::vector<Json>& entries);
// Raises the change flag whether or not a row went; sends no event.
void db_remove_shared_file(std::string id);
// {"id", "name", "type"}, by lower(name).
std::vector<Json> db_get_shared_files();
// {"id", "filename", "fileurl"}, or null.
Json db_get_shared_file(std::string id);

void db_add_pending_file(const std::vector<std::string>& paths);
void db_add_pending_folder(const std::vector<std::string>& paths);
void db_clear_pending_files();
// {"path": text, "is_folder": number 0 or 1}.
std::vector<Json> db_get_pending_files();
// The pending files, read and cleared under one hold of db_lock, so that a path added
// meanwhile is neither lost nor sent twice.
std::vector<Json> db_take_pending_files();

}  // namespace vandrel
