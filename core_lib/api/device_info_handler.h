// "/get_device_info": everything the interface shows about this device and its
// settings, in one reply. Only reads (though first reads make the id, alias and code).
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_get_device_info(Json params, std::string origin);

}  // namespace vandrel
