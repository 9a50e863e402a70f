// handle_api_request: the one entry of the JSON API, for the interface, the core's own
// threads, the self test and peers alike. It parses the body (a body that does not
// parse reaches the handler as null), finds the endpoint by exact name, applies the
// peer rule and returns the handler's reply text. It never throws: a handler's
// exception becomes {"error_code": "internal_error", "status": "error"}.
#pragma once

#include <string>
#include <vector>

#include "core_lib/api/api_handler.h"

namespace vandrel {

std::string handle_api_request(std::string endpoint, std::string body, std::string origin);

struct api_endpoint {
    const char* name;
    api_handler handler;
    // Peers (origins other than "from_ui" and "test") may call it; every other known
    // endpoint answers them {"error_code": "forbidden", "status": "error"}.
    bool served_to_peers;
};

// The endpoint table in its fixed order.
const std::vector<api_endpoint>& api_endpoint_table();

}  // namespace vandrel
