// The three lists the interface manages here: files offered for sharing, paths waiting
// to be sent to peers, and folders the user granted access to. "/upload_pending_files"
// turns the waiting paths into one "/create_upload" per selected peer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_shared_files(Json params, std::string origin);
std::string handle_add_shared_files(Json params, std::string origin);
std::string handle_remove_shared_file(Json params, std::string origin);
std::string handle_clear_pending_files(Json params, std::string origin);
std::string handle_pending_files_updated(Json params, std::string origin);
std::string handle_pending_folders_updated(Json params, std::string origin);
std::string handle_get_pending_files(Json params, std::string origin);
std::string handle_upload_pending_files(Json params, std::string origin);
std::string handle_accepted_folders(Json params, std::string origin);
std::string handle_add_accepted_folder(Json params, std::string origin);

// Background job body of "/upload_pending_files".
void send_pending_files(Json params);

// The upload id of one batch for one peer: sha256_hex(sha256_hex(hour) + the file
// paths in order + peer id), hour = now_ms / 3600000. Same files, peer and hour give
// the same id.
std::string pending_upload_id(std::int64_t now, const std::vector<std::string>& file_paths, const std::string& peer_id);

}  // namespace vandrel
