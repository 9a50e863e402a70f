// Where a core's servers listen and how it calls its peers. The defaults are the
// peer protocol's: HTTPS on every address at port 45001, thumbnails on 127.0.0.1:45002.
// Tests and hosts that run several cores on one machine give each an address of its own.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel {

inline constexpr std::uint16_t rest_server_port = 45001;
inline constexpr std::uint16_t loopback_server_port = 45002;

struct net_config {
    // "" listens on every address. Otherwise an IP literal: every server listens there
    // (the thumbnail server included) and calls to peers leave from it.
    std::string bind_address;
    std::uint16_t rest_port = rest_server_port;
    std::uint16_t loopback_port = loopback_server_port;
    // The port of peers' REST servers.
    std::uint16_t peer_port = rest_server_port;
};

// The address the thumbnail server listens on: the bind address, else 127.0.0.1.
std::string loopback_host(const net_config& config);

}  // namespace vandrel
