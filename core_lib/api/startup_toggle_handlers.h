// Four switches, each flipped by its endpoint: run at start-up, start the hotspot and
// the web share with the core, and web mode now. The body is not read.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_toggle_run_on_startup(Json params, std::string origin);
std::string handle_toggle_run_wifi_direct_on_startup(Json params, std::string origin);
std::string handle_toggle_run_web_share_on_startup(Json params, std::string origin);
std::string handle_toggle_run_web_mode(Json params, std::string origin);

}  // namespace vandrel
