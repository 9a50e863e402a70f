// Cloud discovery: where broadcasts do not get through, the cloud service tells this
// device which devices it saw on the same Wi-Fi network. Hourly, and whenever the
// discovery flag is raised, this device posts its network and identity to
// "/api/v1/discovery" and proves each listed device at its addresses in turn (IPv4
// first), until one answers as that device with its key.
#pragma once

#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Thread body, until the core stops.
void discovery_loop();

// The request body of a pass.
Json discovery_request();

// The addresses of one listed device ("|"-separated) in the order they are tried, each
// in the normal form of peer addresses; texts that are no address are left out.
std::vector<std::string> discovery_addresses(const std::string& local_ips);

// One pass over the service's answer: proves the listed devices.
void take_discovery_answer(const Json& answer);

}  // namespace vandrel
