// Where a core's servers listen and how it calls its peers. The defaults are the
// peer protocol's: HTTPS on every address at port 45001, thumbnails on 127.0.0.1:45002,
// the web share (while it is on) on every address at port 3456.
// Tests and hosts that run several cores on one machine give each an address of its own.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vandrel {

inline constexpr std::uint16_t rest_server_port = 45001;
inline constexpr std::uint16_t loopback_server_port = 45002;
inline constexpr std::uint16_t announce_port_default = 45001;
inline constexpr std::uint16_t web_server_port = 3456;

struct net_config {
    // "" listens on every address. Otherwise an IP literal: every server listens there
    // (the thumbnail server included) and calls to peers leave from it.
    std::string bind_address;
    std::uint16_t rest_port = rest_server_port;
    std::uint16_t loopback_port = loopback_server_port;
    // The web share's plain HTTP server, on the bind address like the REST server.
    std::uint16_t web_port = web_server_port;
    // The port of peers' REST servers.
    std::uint16_t peer_port = rest_server_port;
    // The LAN announce: listened for and sent to on this port.
    std::uint16_t announce_port = announce_port_default;
    // The cloud service: discovery and usage events go to this base URL.
    std::string cloud_url = "https://cloud.mesk.internal";
    // A file being received that gets no data for this long ends ("timed out").
    std::chrono::milliseconds download_timeout{30000};
    // A file being received that gets fewer bytes a second than this over a whole
    // download_timeout ends the same way, so a sender that drips holds no slot.
    std::uint64_t download_min_rate = 4096;
};

// The address the thumbnail server listens on: the bind address, else 127.0.0.1.
std::string loopback_host(const net_config& config);

// True when the core is bound to a loopback address (several cores on one machine, in
// tests): then nothing it sends may leave the machine, so it makes no broadcast, no
// cloud call and no call to an address that is not a loopback one.
bool loopback_only(const net_config& config);

}  // namespace vandrel
