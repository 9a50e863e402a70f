#include "tests/support/net_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <stdexcept>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include "core_lib/net/http/certificate.h"
#include "core_lib/net/http/tls_context.h"

namespace vandrel::test {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

temp_folder::temp_folder() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/mesk-test-XXXXXX";
    if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    folder = pattern + "/";
}

temp_folder::~temp_folder() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
}

const std::string& test_certificate_path() {
    static temp_folder folder;
    static const std::string path = [] {
        if (!ensure_certificate_in(folder.path())) throw std::runtime_error("no test certificate");
        return folder.path() + certificate_file_name;
    }();
    return path;
}

struct test_connection::impl {
    net::io_context io;
    std::shared_ptr<net::ssl::context> context;
    std::unique_ptr<beast::ssl_stream<beast::tcp_stream>> tls;
    std::unique_ptr<beast::tcp_stream> plain;
    beast::flat_buffer buffer;
    std::chrono::milliseconds timeout;
    bool peer_closed = false;

    void note_end(const beast::error_code& ec) {
        if (ec == http::error::end_of_stream || ec == http::error::partial_message || ec == net::error::eof ||
            ec == net::ssl::error::stream_truncated || ec == net::error::connection_reset) {
            peer_closed = true;
        }
    }

    beast::tcp_stream& lowest() { return tls ? beast::get_lowest_layer(*tls) : *plain; }

    template <class F>
    void with_stream(F f) {
        if (tls)
            f(*tls);
        else
            f(*plain);
    }

    // Starts one operation and runs it to its end; the stream's timer bounds it.
    beast::error_code run(const std::function<void(std::function<void(beast::error_code)>)>& start,
                          std::chrono::milliseconds limit) {
        bool done = false;
        beast::error_code result;
        lowest().expires_after(limit);
        start([&](beast::error_code ec) {
            done = true;
            result = ec;
        });
        io.restart();
        io.run();
        return done ? result : beast::error_code(beast::error::timeout);
    }
};

test_connection::test_connection(std::uint16_t port, bool tls, const std::string& host,
                                 std::chrono::milliseconds timeout, const std::string& source)
    : d(std::make_unique<impl>()) {
    d->timeout = timeout;
    if (tls) {
        d->context = make_client_tls_context();
        d->tls = std::make_unique<beast::ssl_stream<beast::tcp_stream>>(d->io, *d->context);
    } else {
        d->plain = std::make_unique<beast::tcp_stream>(d->io);
    }
    tcp::endpoint endpoint(net::ip::make_address(host), port);
    if (!source.empty()) {
        beast::error_code bind_error;
        d->lowest().socket().open(endpoint.protocol(), bind_error);
        if (!bind_error) d->lowest().socket().bind(tcp::endpoint(net::ip::make_address(source), 0), bind_error);
        if (bind_error) return;
    }
    auto ec = d->run([&](auto done) { d->lowest().async_connect(endpoint, done); }, timeout);
    if (!ec && tls) {
        ec = d->run([&](auto done) { d->tls->async_handshake(net::ssl::stream_base::client, done); }, timeout);
    }
    is_connected = !ec;
}

test_connection::~test_connection() = default;

bool test_connection::send_raw(const std::string& bytes) {
    auto ec = d->run(
        [&](auto done) {
            d->with_stream([&](auto& stream) {
                net::async_write(stream, net::buffer(bytes), [done](beast::error_code ec, std::size_t) { done(ec); });
            });
        },
        d->timeout);
    return !ec;
}

http_reply test_connection::request(const std::string& method, const std::string& target, const std::string& body,
                                    const std::map<std::string, std::string>& headers) {
    http::request<http::string_body> message;
    message.method_string(method);
    message.target(target);
    message.version(11);
    message.set(http::field::host, "127.0.0.1");
    for (const auto& [name, value] : headers) message.set(name, value);
    message.body() = body;
    if (!body.empty()) message.content_length(body.size());
    auto ec = d->run(
        [&](auto done) {
            d->with_stream([&](auto& stream) {
                http::async_write(stream, message, [done](beast::error_code ec, std::size_t) { done(ec); });
            });
        },
        d->timeout);
    if (ec) return {};
    return read_reply();
}

http_reply test_connection::read_reply() {
    http::response_parser<http::string_body> parser;
    parser.body_limit(std::uint64_t{64} * 1024 * 1024);
    auto ec = d->run(
        [&](auto done) {
            d->with_stream([&](auto& stream) {
                http::async_read(stream, d->buffer, parser, [done](beast::error_code ec, std::size_t) { done(ec); });
            });
        },
        d->timeout);
    http_reply reply;
    if (ec) {
        d->note_end(ec);
        return reply;
    }
    auto& message = parser.get();
    reply.ok = true;
    reply.status = message.result_int();
    for (const auto& field : message) {
        std::string name(field.name_string());
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        reply.headers.try_emplace(name, std::string(field.value()));
    }
    reply.body = message.body();
    reply.chunked = message.chunked();
    reply.keep_alive = message.keep_alive();
    return reply;
}

bool test_connection::closed_by_server(std::chrono::milliseconds within) {
    auto deadline = std::chrono::steady_clock::now() + within;
    // Once the end of the stream was read, asio waits for a readiness edge that never
    // comes again: remember the end instead of reading it twice.
    if (d->peer_closed) return true;
    char scratch[4096];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        auto ec = d->run(
            [&](auto done) {
                d->with_stream([&](auto& stream) {
                    stream.async_read_some(net::buffer(scratch),
                                           [done](beast::error_code ec, std::size_t) { done(ec); });
                });
            },
            left);
        if (ec == beast::error::timeout) return false;
        if (ec) {
            d->peer_closed = true;
            return true;
        }
    }
}

http_reply http_exchange(std::uint16_t port, bool tls, const std::string& method, const std::string& target,
                         const std::string& body, const std::map<std::string, std::string>& headers) {
    test_connection connection(port, tls);
    if (!connection.connected()) return {};
    return connection.request(method, target, body, headers);
}

void write_self_signed_pem(const std::string& path, int bits, const std::string& name, long serial, long not_before_s,
                           long not_after_s, bool sha1) {
    EVP_PKEY* key = EVP_RSA_gen(bits);
    X509* cert = X509_new();
    ASN1_INTEGER_set(X509_get_serialNumber(cert), serial);
    X509_gmtime_adj(X509_getm_notBefore(cert), not_before_s);
    X509_gmtime_adj(X509_getm_notAfter(cert), not_after_s);
    X509_set_pubkey(cert, key);
    X509_NAME* subject = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>(name.c_str()), -1,
                               -1, 0);
    X509_set_issuer_name(cert, subject);
    X509_sign(cert, key, sha1 ? EVP_sha1() : EVP_sha256());
    if (FILE* file = std::fopen(path.c_str(), "w")) {
        PEM_write_X509(file, cert);
        PEM_write_PrivateKey(file, key, nullptr, nullptr, 0, nullptr, nullptr);
        std::fclose(file);
    }
    X509_free(cert);
    EVP_PKEY_free(key);
}

}  // namespace vandrel::test
