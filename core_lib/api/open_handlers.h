// "/open_folder" (nothing to do on this platform), "/open_file" (launch a file by its
// storage path) and "/reset_downloads_folder". Each answers success.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_open_folder(Json params, std::string origin);
std::string handle_open_file(Json params, std::string origin);
std::string handle_reset_downloads_folder(Json params, std::string origin);

}  // namespace vandrel
