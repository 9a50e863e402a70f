#include "core_lib/net/http/https_client.h"

#include <openssl/ssl.h>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include "core_lib/net/http/tls_context.h"
#include "core_lib/net/http/tls_sessions.h"
#include "core_lib/net/http/url.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/public_key.h"

namespace vandrel {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

constexpr std::chrono::milliseconds stop_check_interval{100};

net::ssl::context& client_context() {
    // Never destroyed: a call may still run on some thread while the process exits.
    static auto* context = new std::shared_ptr<net::ssl::context>(make_client_tls_context());
    return **context;
}

// The steps of one call, run to the end by io.run(); every handler captures `this`,
// which outlives the run.
class client_call {
public:
    client_call(const parsed_url& target, const std::string& body, std::chrono::milliseconds deadline,
                std::uint64_t answer_limit, const https_call_options& options)
        : url(target),
          required_key(options.required_key),
          stream(io, client_context()),
          resolver(io),
          resolve_timer(io),
          deadline_at(std::chrono::steady_clock::now() + deadline) {
        request.method(body.empty() ? http::verb::get : http::verb::post);
        request.target(url.target);
        request.version(11);
        request.set(http::field::host, host_header(url));
        request.set(http::field::content_type, "application/json");
        for (const auto& [name, value] : options.headers) request.set(name, value);
        request.keep_alive(false);
        request.body() = body;
        request.content_length(body.size());
        parser.body_limit(answer_limit);
    }

    https_answer run() {
        // A core bound to a loopback address looks up no name: the question would leave.
        const net_state* running = current_net::find();
        if (!url.host_is_ip && running != nullptr && loopback_only(running->config)) return {};
        if (!url.host_is_ip && !SSL_set_tlsext_host_name(stream.native_handle(), url.host.c_str())) {
            return {};
        }
        beast::get_lowest_layer(stream).expires_at(deadline_at);
        if (url.host_is_ip) {
            beast::error_code bad_address;
            tcp::endpoint endpoint(net::ip::make_address(url.host, bad_address), url.port);
            if (bad_address) return {};
            if (!bind_source(endpoint)) return {};
            beast::get_lowest_layer(stream).async_connect(endpoint, [this](beast::error_code ec) { connected(ec); });
        } else {
            resolve_timer.expires_at(deadline_at);
            resolve_timer.async_wait([this](beast::error_code ec) {
                if (!ec) resolver.cancel();
            });
            resolver.async_resolve(url.host, std::to_string(url.port),
                                   [this](beast::error_code resolve_error, const tcp::resolver::results_type& results) {
                                       resolve_timer.cancel();
                                       if (resolve_error) return;
                                       beast::get_lowest_layer(stream).async_connect(
                                           results,
                                           [this](beast::error_code ec, const tcp::endpoint&) { connected(ec); });
                                   });
        }
        // In slices, so that a core that stops does not wait out the deadline.
        while (!io.stopped()) {
            io.run_for(stop_check_interval);
            if (!io.stopped() && core_stopping()) {
                resolver.cancel();
                beast::get_lowest_layer(stream).close();
            }
        }
        https_answer answer;
        answer.key_sha256 = std::move(server_key);
        if (complete) answer.body = std::move(parser.get().body());
        return answer;
    }

private:
    bool bind_source(const tcp::endpoint& to) {
        return prepare_client_socket(beast::get_lowest_layer(stream).socket(), to);
    }

    void connected(beast::error_code connect_error) {
        if (connect_error) return;
        if (tls_session_cache* sessions = current_tls_sessions()) sessions->offer(endpoint(), stream.native_handle());
        stream.async_handshake(net::ssl::stream_base::client, [this](beast::error_code handshake_error) {
            if (handshake_error) return finish();
            server_key = server_key_sha256(stream.native_handle());
            if (!required_key.empty() && server_key != required_key) return finish();
            http::async_write(stream, request, [this](beast::error_code write_error, std::size_t) {
                if (write_error) return finish();
                http::async_read(stream, buffer, parser, [this](beast::error_code read_error, std::size_t) {
                    complete = !read_error;
                    if (tls_session_cache* sessions = current_tls_sessions(); sessions && complete) {
                        sessions->keep(endpoint(), stream.native_handle());
                    }
                    finish();
                });
            });
        });
    }

    std::string endpoint() const { return url.host + ":" + std::to_string(url.port); }

    void finish() {
        // One request per connection: no TLS goodbye to wait for.
        beast::get_lowest_layer(stream).close();
    }

    parsed_url url;
    std::string required_key;
    net::io_context io;
    beast::ssl_stream<beast::tcp_stream> stream;
    tcp::resolver resolver;
    net::steady_timer resolve_timer;
    std::chrono::steady_clock::time_point deadline_at;
    http::request<http::string_body> request;
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    bool complete = false;
    std::string server_key;
};

}  // namespace

https_answer post_json_for_key(const std::string& url, const std::string& body, std::chrono::milliseconds deadline,
                               std::uint64_t answer_limit, const https_call_options& options) {
    auto parsed = parse_url(url);
    if (!parsed || parsed->scheme != "https") return {};
    try {
        client_call call(*parsed, body, deadline, answer_limit, options);
        return call.run();
    } catch (const std::exception&) {
        return {};
    }
}

std::string post_json(const std::string& url, const std::string& body, std::chrono::milliseconds deadline) {
    return post_json_for_key(url, body, deadline).body;
}

bool prepare_client_socket(tcp::socket& socket, const tcp::endpoint& to) {
    const net_state* net = current_net::find();
    if (net == nullptr || net->config.bind_address.empty()) return true;
    beast::error_code ec;
    const net::ip::address from = net::ip::make_address(net->config.bind_address, ec);
    // From a loopback address nothing may go to another host.
    if (!ec && from.is_loopback() && !to.address().is_loopback()) return false;
    if (ec || from.is_v4() != to.address().is_v4()) return !ec;
    socket.open(to.protocol(), ec);
    if (!ec) socket.bind(tcp::endpoint(from, 0), ec);
    return !ec;
}

std::string server_key_sha256(SSL* ssl) {
    X509* certificate = SSL_get1_peer_certificate(ssl);
    if (certificate == nullptr) return {};
    std::string digest = public_key_sha256(X509_get0_pubkey(certificate));
    X509_free(certificate);
    return digest;
}

}  // namespace vandrel
