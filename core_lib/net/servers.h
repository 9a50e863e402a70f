// Start of the REST server (HTTPS, port 45001) and the loopback thumbnail server (plain
// HTTP on 127.0.0.1, port 45002), each on manager threads of its own, on the addresses
// of the core's network configuration. A server that cannot load its certificate or
// cannot bind says so on standard error and to the interface; the other one starts all
// the same.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core_lib/net/http/http_server.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/net_config.h"
#include "core_lib/net/rest_server.h"

namespace vandrel {

struct server_setup {
    std::string certificate_path;  // the PEM file with certificate and private key
    std::string rest_host;         // "" for every address
    std::uint16_t rest_port = rest_server_port;
    std::string loopback_host = "127.0.0.1";
    std::uint16_t loopback_port = loopback_server_port;
    http_limits limits;
    proven_address_check is_proven;  // the REST server's; empty: none is
    rest_routes routes;
};

struct running_servers {
    std::unique_ptr<io_manager> rest;      // null when the REST server does not serve
    std::unique_ptr<io_manager> loopback;  // null when the loopback server does not serve
    std::uint16_t rest_port = 0;
    std::uint16_t loopback_port = 0;
};

// The limits of a server that peers reach (limits::...): small bodies, short deadlines,
// connections capped per address, and per server at most half of the descriptors the
// process may open beyond its reserve.
http_limits peer_server_limits();

// Starts both servers; each failure is reported and leaves that server out.
running_servers start_rest_servers(server_setup setup);

// The core start-up's entry: the data folder's certificate and the running core's
// addresses and ports. The servers run until stop_servers; a second start does nothing.
void start_servers(rest_routes routes);
// Closes both servers and joins their threads.
void stop_servers();

}  // namespace vandrel
