// A peer written into a device's store before its core first starts, as if it had been
// seen just now at the address: the core knows it from its first request on.
#pragma once

#include <string>

namespace vandrel::testing {

// `data_folder` is the core's data folder (ending in "/"); made when missing.
void seed_peer(const std::string& data_folder, const std::string& id, const std::string& alias,
               const std::string& address);

}  // namespace vandrel::testing
