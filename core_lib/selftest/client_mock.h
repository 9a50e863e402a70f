// The self test's stand-in for an interface that keeps a copy of the device list and
// asks only for what changed since its last pull.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "core_lib/foundation/json.h"

namespace vandrel {

struct client_mock {
    std::string alias;
    std::string device_id;
    std::string sys_info;
    std::unordered_map<std::string, Json> devices;
    // The largest "date_updated" seen (milliseconds since 1970).
    std::uint64_t last_pull_devices = 0;

    // Takes each record in order: a later record of an id replaces an earlier one, and
    // last_pull_devices grows to its "date_updated" (decimal text; anything else counts
    // as 0). An element without an id is kept under the empty id.
    void apply_devices(Json records);
};

}  // namespace vandrel
