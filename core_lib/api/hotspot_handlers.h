// Control of the Wi-Fi Direct hotspot: start, stop, and the passphrase to type on the
// other device (this device's own, which every start uses).
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_start_hotspot(Json params, std::string origin);
std::string handle_stop_hotspot(Json params, std::string origin);
std::string handle_get_hotspot_password(Json params, std::string origin);

}  // namespace vandrel
