// Steering transfers: stop a download or an upload, fetch one received file again,
// learn from the receiving peer that files arrived, read one chat.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_stop_download(Json params, std::string origin);
std::string handle_stop_upload(Json params, std::string origin);
std::string handle_download_file(Json params, std::string origin);
std::string handle_completed_downloads(Json params, std::string origin);
std::string handle_chat_info(Json params, std::string origin);

// Background job bodies.
void run_download_file(std::string file_id, std::string download_id);
void notify_completed_downloads(const Json::array& files);

}  // namespace vandrel
