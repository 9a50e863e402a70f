// HTTP/1.1 server over TCP or TLS on an io_manager's threads, each connection on one of
// them (its handlers never run at once). Every request is read within explicit header
// and body limits and time-outs, handed whole to one handler, and answered with
// keep-alive. The handler runs on the server's own workers, never on a network thread,
// taken in turns by peer address, so a slow handler or a flooding peer holds up no
// other peer. Connections are capped per server and per address, and the bodies that
// all connections buffer together have a budget; what is over them is refused (503) or
// closed at once. A streamed answer pulls its next piece from a body_source only when
// the previous piece has been written: one piece in flight. Faults of one connection
// (garbage, time-outs, oversized input) end that connection alone; the listener goes
// on. A plain server may hand the connections that ask for a WebSocket upgrade to an
// upgrade handler, which then owns them.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <boost/asio/ip/tcp.hpp>

namespace boost::asio::ssl {
class context;
}

namespace vandrel {

class io_manager;

struct http_request {
    std::string method;  // as sent: "GET", "POST", ...
    std::string target;  // as sent, query included
    std::string path;    // the target before its first "?"
    std::string body;
    std::string peer_address;  // the remote address in its normal form (peer_address.h)
    // Lower-cased names; when a name is repeated, its first value.
    std::map<std::string, std::string> headers;

    // The header's value, or "" (any case of the name).
    std::string header(const std::string& name) const;
};

// The rest of a streamed answer. Called on the connection's thread (one call at a time)
// each time the previous piece has been written; the source is destroyed with its
// connection.
class body_source {
public:
    enum class step {
        piece,  // `piece` holds the next bytes (an empty piece counts as the end)
        end,    // the body is complete: the last chunk goes out
        abort,  // close the connection at once, without ending the body
    };
    virtual ~body_source() = default;
    virtual step next_piece(std::string& piece) = 0;
};

using http_fields = std::vector<std::pair<std::string, std::string>>;

struct http_answer {
    unsigned status = 200;
    http_fields fields;   // extra header lines, in this order
    std::string body;     // the whole body, or the first piece when `rest` is set
    bool chunked = true;  // false: a Content-Length body
    // Length of a streamed Content-Length body; without it the length is body.size().
    std::optional<std::uint64_t> content_length;
    std::shared_ptr<body_source> rest;
    bool close = false;  // close the connection once the answer is sent
};

using http_handler = std::function<http_answer(const http_request&)>;

struct http_limits {
    std::uint32_t header_bytes = 16 * 1024;
    std::uint64_t body_bytes = std::uint64_t{16} * 1024 * 1024;
    // A connection with no request under way is closed after this.
    std::chrono::milliseconds idle_timeout = std::chrono::seconds(60);
    // From the first byte of a request (or the start of the TLS handshake) to its last
    // header line.
    std::chrono::milliseconds header_timeout = std::chrono::seconds(15);
    std::chrono::milliseconds body_timeout = std::chrono::seconds(60);
    // Each write of an answer.
    std::chrono::milliseconds write_timeout = std::chrono::seconds(60);
    // From the connection to the end of the TLS handshake.
    std::chrono::milliseconds handshake_timeout = std::chrono::seconds(5);
    // Connections over these are closed as soon as they are accepted.
    std::size_t max_connections = 512;
    std::size_t max_connections_per_address = 64;
    // The bodies of all connections together; a request whose body would not fit is
    // answered 503 and its connection closed.
    std::uint64_t buffered_body_bytes = std::uint64_t{64} * 1024 * 1024;
    // Handler workers, and how many of them one peer address may hold at once.
    unsigned workers = 4;
    unsigned running_per_address = 2;
};

// A connection whose request asked for a WebSocket upgrade, taken out of the server.
struct upgraded_connection {
    http_request request;  // the upgrade request as read
    boost::asio::ip::tcp::socket socket;
    // Keeps the connection counted under the server's caps for as long as it is held.
    std::shared_ptr<void> admitted;
};

// Runs on the connection's network thread and must not block; the socket keeps that
// thread's context as its executor. An exception from it closes the connection.
using upgrade_handler = std::function<void(upgraded_connection connection)>;

struct http_server_config {
    std::string host;  // IP literal to listen on; "" for every address (dual stack)
    std::uint16_t port = 0;
    std::shared_ptr<boost::asio::ssl::context> tls;  // null: plain HTTP
    http_limits limits;
    http_fields common_fields;  // added to every answer, the server's own errors included
    http_handler handler;       // an exception from it answers 500 with an empty body
    // Plain HTTP only: takes every request that asks for a WebSocket upgrade, on any
    // path. Empty: such requests go to the handler like any other.
    upgrade_handler upgrade;
    // Names the request workers' threads (NAME-1, NAME-2, ...).
    std::string worker_thread_name = "mesk-http-wk";
};

// Listens and serves on the manager's threads; the manager keeps the server. Returns the
// bound port, or 0 with `error` set when the listener could not be opened.
std::uint16_t start_http_server(io_manager& manager, http_server_config config, std::string& error);

}  // namespace vandrel
