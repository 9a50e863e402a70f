// How devices make themselves known: "/ping" (a peer's liveness and identity call,
// answered with this device's identity) and "/create_device" (a device described
// explicitly, with validation). A peer's address is the request's origin; a local
// origin is never stored as an address.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_ping(Json params, std::string origin);
std::string handle_create_device(Json params, std::string origin);

}  // namespace vandrel
