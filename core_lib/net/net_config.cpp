#include "core_lib/net/net_config.h"

#include <boost/asio/ip/address.hpp>

namespace vandrel {

std::string loopback_host(const net_config& config) {
    return config.bind_address.empty() ? std::string("127.0.0.1") : config.bind_address;
}

bool loopback_only(const net_config& config) {
    if (config.bind_address.empty()) return false;
    boost::system::error_code ec;
    const auto address = boost::asio::ip::make_address(config.bind_address, ec);
    return !ec && address.is_loopback();
}

}  // namespace vandrel
