// The shape of every endpoint handler: the parsed body and the origin in, the reply
// text out. Handlers are reached through handle_api_request and call one another
// through the same shape.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

using api_handler = std::string (*)(Json params, std::string origin);

}  // namespace vandrel
