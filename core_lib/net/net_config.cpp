#include "core_lib/net/net_config.h"

namespace vandrel {

std::string loopback_host(const net_config& config) {
    return config.bind_address.empty() ? std::string("127.0.0.1") : config.bind_address;
}

}  // namespace vandrel
