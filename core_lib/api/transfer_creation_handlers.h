// Turning a choice of files into transfer chats: "/create_upload" gives each file its
// id and hands an "upload" chat to the chat pipeline; "/create_download" hands on a
// "download" chat as given; "/download_files" queues a received download again.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_create_upload(Json params, std::string origin);
std::string handle_create_download(Json params, std::string origin);
std::string handle_download_files(Json params, std::string origin);

// sha256_hex("21984" + chat id + filesize + fileurl + filename + receiver + "//\\").
std::string make_file_id(const std::string& chat_id, const Json& entry, const std::string& receiver);

}  // namespace vandrel
