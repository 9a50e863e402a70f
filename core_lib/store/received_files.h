// Where received files ended up: the storage path of a file that arrived is kept in its
// files_to_receive row, and a name that a completed download points to is never given
// to another file.
#pragma once

#include <string>

namespace vandrel {

// Whether a file other than `file_id` arrived ("complete" or "complete_sent") at that
// storage path; letters compared without case, as some file systems do.
bool db_received_file_at(std::string storage_path, std::string file_id);
// The storage path the file of that id arrived at; "" while it has not arrived.
std::string db_received_file_path(std::string file_id);
// Records the storage path the file of that id arrived at.
void db_set_file_received_at(std::string file_id, std::string storage_path);

}  // namespace vandrel
