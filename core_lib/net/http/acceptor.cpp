#include "core_lib/net/http/acceptor.h"

#include <boost/asio/ip/v6_only.hpp>

namespace vandrel {

namespace ip = boost::asio::ip;
using ip::tcp;

namespace {

bool try_listen(tcp::acceptor& acceptor, const tcp::endpoint& endpoint, bool dual_stack,
                boost::system::error_code& ec) {
    acceptor.open(endpoint.protocol(), ec);
    if (ec) return false;
    acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
    if (!ec && dual_stack) acceptor.set_option(ip::v6_only(false), ec);
    if (!ec) acceptor.bind(endpoint, ec);
    if (!ec) acceptor.listen(tcp::socket::max_listen_connections, ec);
    if (ec) {
        boost::system::error_code ignored;
        acceptor.close(ignored);
        return false;
    }
    return true;
}

}  // namespace

tcp::acceptor open_listener(boost::asio::io_context& io, const std::string& host, std::uint16_t port,
                            std::string& error) {
    tcp::acceptor acceptor(io);
    boost::system::error_code ec;
    if (host.empty()) {
        if (try_listen(acceptor, tcp::endpoint(tcp::v6(), port), true, ec)) return acceptor;
        std::string v6_error = ec.message();
        // No IPv6 on this host: IPv4 alone.
        if (try_listen(acceptor, tcp::endpoint(tcp::v4(), port), false, ec)) return acceptor;
        error = "cannot listen on port " + std::to_string(port) + ": " + ec.message() + " (IPv6: " + v6_error + ")";
        return acceptor;
    }
    ip::address address = ip::make_address(host, ec);
    if (ec) {
        error = "not an IP address to listen on: " + host;
        return acceptor;
    }
    if (!try_listen(acceptor, tcp::endpoint(address, port), false, ec)) {
        error = "cannot listen on " + host + " port " + std::to_string(port) + ": " + ec.message();
    }
    return acceptor;
}

}  // namespace vandrel
