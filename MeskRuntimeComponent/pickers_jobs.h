// The work of each pick once its dialog has answered: the bodies of the background jobs
// that pickers.cpp starts, and the recipes they share. Each runs on the calling thread
// and blocks it for the whole walk, search or read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Files per "/create_upload" request of a folder upload.
inline constexpr std::size_t folder_page_size = 100;
// Picked files are handed on once a batch holds more than this many.
inline constexpr std::size_t picked_batch_limit = 100;
// Least time between two progress feedbacks of one pick.
inline constexpr std::int64_t feedback_interval_ms = 1000;

// Sends every file below `folder` to the peer (the work after the folder picker).
void send_folder_to_peer(const std::string& peer_id, const std::string& folder);
// Stores the picked files as shared files (the work after the shared-files picker).
void share_picked_files(const std::vector<std::string>& files);
// Sends the picked files to the peer (the work after the category picker).
void send_picked_files_to_peer(const std::string& peer_id, const std::vector<std::string>& files);
// Makes the image the avatar (the work after the profile image picker).
void set_avatar_from_image(const std::string& image_path);

// Upload id of a folder upload. A granted folder's own relative id is always "" here,
// so the folder's absolute path stands in its place: different folders get different
// ids, the same folder picked again within the hour the same one.
std::string folder_upload_id(const std::string& folder_path, std::int64_t hours, const std::string& peer_id);
// Upload id of picked files, folded over the files in picking order. Each file is named
// by its absolute path: a relative id only names the file's parent folder, and two
// different picks from one folder must not share an id.
std::string picked_files_upload_id(std::int64_t hours, const std::string& peer_id,
                                   const std::vector<std::string>& file_paths);
// Whole hours since 1970 by the core's clock.
std::int64_t hours_since_epoch();

// Standard Base64 (RFC 4648 alphabet, "=" padding).
std::string encode_base64(const std::string& bytes);

// The accepted folder (canonical path) that holds the file, the first in search order,
// or "". Sends a "Searching folder : " feedback per folder searched, with the peer id
// when one is given.
std::string accepted_folder_holding(const std::string& file_path, const std::string& peer_id);

// Hands one "/create_upload" request to the upload request sender.
void send_upload_request(const std::string& upload_id, const std::string& peer_id, Json::array files);
// {"action": "feedback_for_peer", "feedback": text}, with "peer_id" unless it is "".
void send_picker_feedback(const std::string& peer_id, const std::string& text);

}  // namespace vandrel
