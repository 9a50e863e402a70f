// Opens a listening TCP socket. An empty host listens on every address: IPv6 "::" with
// IPv4-mapped peers accepted (dual stack), or 0.0.0.0 where IPv6 is not available.
// Otherwise the host is an IP literal ("127.0.0.1", "::1"). Port 0 picks a free port.
#pragma once

#include <cstdint>
#include <string>

#include <boost/asio/ip/tcp.hpp>

namespace vandrel {

// On failure the acceptor is closed and `error` says why.
boost::asio::ip::tcp::acceptor open_listener(boost::asio::io_context& io, const std::string& host, std::uint16_t port,
                                             std::string& error);

}  // namespace vandrel
