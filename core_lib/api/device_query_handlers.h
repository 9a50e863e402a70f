// Read-only queries that keep the interface's lists current: the peers changed since a
// time, and the newest downloads from one peer. A malformed time counts as 0 (all).
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_get_recently_changed_devices(Json params, std::string origin);
std::string handle_get_new_downloads(Json params, std::string origin);

}  // namespace vandrel
