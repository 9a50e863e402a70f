// "/bytes_transferred": stores how far one file to send has gone and re-posts it to
// the interface as the progress record "update_bytes_transferred".
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_bytes_transferred(Json params, std::string origin);

}  // namespace vandrel
