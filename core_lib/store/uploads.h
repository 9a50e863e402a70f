// The sending side of transfers: one uploads row per outgoing transfer (keyed by its
// chat id) and one files_to_send row per file, tied by upload_id. A file is unsent
// while its `sent` is not "1"; `status` is "" or "paused" (an uploads row's also
// "stopped"). A file counts as sent whole (bytes_transferred at its size) only once the
// receiver confirmed it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Stores the files ("id", "filename", "fileurl", "filesize" read as texts) and the
// uploads row in one transaction; a stored file id is replaced whole.
void db_store_upload(const std::vector<Json>& files, std::string account, std::string upload_id, std::string sender,
                     std::string receiver);
// {"id", "filename", "filesize"} of the unsent files, oldest first, at most 1000.
std::vector<Json> db_get_unsent_files_of_upload(std::string upload_id);
void db_mark_file_to_send_sent(const std::vector<std::string>& file_ids);
// Every file back to unsent with no bytes, and the chat back to unsent.
void db_reset_upload_for_resend(std::string upload_id);
void db_set_file_to_send_status(std::string file_id, std::string upload_id, std::string status);
// The status of every file of the upload, its chat and its uploads row.
void db_set_upload_status(std::string upload_id, std::string status);
// The uploads row to "stopped" (its chat and files unchanged); a resume or resend, through
// db_set_upload_status, clears it.
void db_stop_upload(std::string upload_id);
// The sending position; it never lowers a file the receiver confirmed complete.
void db_set_file_to_send_progress(std::uint64_t bytes_transferred, std::string file_id);
// Sets each listed file to its full size; notes the last one in the receiver's summary
// ("_download_complete_" + name, one more unread) and sends "peers_updated".
void db_complete_file_to_send(const std::vector<Json>& files);
// {"id", "filename", "filesize", "fileurl", "receiver", "status", "upload_status" (of
// its uploads row)}, or null.
Json db_get_file_to_send(std::string file_id);
// The entries ({"id", "chat_id"}) that name a file this device offers to one of the
// receivers, in that file's own upload.
std::vector<Json> db_files_offered_to(const std::vector<std::string>& receivers, const std::vector<Json>& files);

}  // namespace vandrel
