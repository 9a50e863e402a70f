// Showing things to the user through the platform: the clipboard, the folder of a
// transfer, a received or sent file in its folder, a received file opened, and the
// details of one file of a transfer. The platform work is handed over, not waited for.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_copy_to_clipboard(Json params, std::string origin);
std::string handle_open_folder_for_chat(Json params, std::string origin);
std::string handle_info_file(Json params, std::string origin);
std::string handle_show_downloaded_file(Json params, std::string origin);
std::string handle_show_uploaded_file(Json params, std::string origin);
std::string handle_open_downloaded_file(Json params, std::string origin);

}  // namespace vandrel
