// post_json: one blocking HTTPS request with a JSON body, the client that every call to
// a peer or to the cloud service goes through. Each call has its own io_context and
// connection; calls on many threads at once share nothing but the client TLS context.
// The server's certificate is not checked (peers present self-signed ones); instead the
// caller learns the SHA-256 of the server's public key, by which peers are known. A call
// ends early when the running core stops.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <openssl/ssl.h>
#include <boost/asio/ip/tcp.hpp>

namespace vandrel {

inline constexpr std::chrono::milliseconds post_json_deadline{30000};

// A POST of `body` to the "https://" URL, or a GET (with Content-Length 0) when the body
// is empty; both with "Content-Type: application/json". Returns the answer's body
// whatever its status, or "" when no whole answer came within the deadline (bad URL,
// no connection, TLS failure, silence, a cut answer).
std::string post_json(const std::string& url, const std::string& body,
                      std::chrono::milliseconds deadline = post_json_deadline);

// Readies a client socket for a connection to `to`: a core bound to one address calls
// from that address (the socket is opened and bound), and a core bound to a loopback
// address calls no other host (false). Every client connection of the core goes
// through it.
bool prepare_client_socket(boost::asio::ip::tcp::socket& socket, const boost::asio::ip::tcp::endpoint& to);

// The key digest of the certificate the server showed in the handshake, "" for none.
std::string server_key_sha256(SSL* ssl);

// Answer bodies over this many bytes count as no answer.
inline constexpr std::uint64_t default_answer_limit = 64ull * 1024 * 1024;

struct https_answer {
    std::string body;        // "" when no whole answer came (as post_json)
    std::string key_sha256;  // of the server's public key (DER), "" before a handshake
};

// What a call may add: header lines, and the key the server must show before anything
// of the request is sent ("" takes any key; another key ends the call with no answer).
struct https_call_options {
    std::vector<std::pair<std::string, std::string>> headers;
    std::string required_key;
};

// The same request; the answer with the key the server showed. An answer body over
// `answer_limit` bytes is no answer.
https_answer post_json_for_key(const std::string& url, const std::string& body, std::chrono::milliseconds deadline,
                               std::uint64_t answer_limit = default_answer_limit,
                               const https_call_options& options = {});

}  // namespace vandrel
