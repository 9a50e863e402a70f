// "/new_settings" (alias and web-share code, from the interface and the self test only), "/get_avatar"
// (this device's picture, for peers that see it) and "/os" (platform and version).
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_new_settings(Json params, std::string origin);
std::string handle_get_avatar(Json params, std::string origin);
std::string handle_os(Json params, std::string origin);

}  // namespace vandrel
