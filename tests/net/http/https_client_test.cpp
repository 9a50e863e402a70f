#include "core_lib/net/http/https_client.h"

#include <gtest/gtest.h>

#include <fstream>
#include <mutex>

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/ssl.hpp>

#include "core_lib/net/http/acceptor.h"
#include "core_lib/net/http/http_server.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/http/tls_context.h"
#include "core_lib/net/peers/public_key.h"
#include "tests/support/net_test_support.h"

namespace vandrel {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
using namespace std::chrono_literals;

struct seen_request {
    std::string method, target, body, content_type, content_length, probe;
};

// A TLS server that records each request and answers 404 with a short body on
// "/missing", else 200 with "ok".
class recording_server {
public:
    explicit recording_server(std::shared_ptr<net::ssl::context> tls) : manager("stub") {
        http_server_config config;
        config.host = "127.0.0.1";
        config.tls = std::move(tls);
        config.handler = [this](const http_request& request) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.push_back({request.method, request.target, request.body, request.header("content-type"),
                            request.header("Content-Length"), request.header("x_probe")});
            http_answer answer;
            answer.chunked = false;
            answer.status = request.path == "/missing" ? 404 : 200;
            answer.body = request.path == "/missing" ? "no such thing" : "ok";
            return answer;
        };
        std::string error;
        port = start_http_server(manager, std::move(config), error);
        EXPECT_NE(port, 0) << error;
    }

    std::string url(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(port) + path; }

    std::vector<seen_request> requests() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }

private:
    io_manager manager;
    std::uint16_t port = 0;
    std::mutex mutex;
    std::vector<seen_request> seen;
};

// Accepts connections (and, if asked, completes the TLS handshake), then never answers.
class silent_server {
public:
    explicit silent_server(bool handshake) : manager("silent") {
        auto parts = std::make_shared<held>(manager.context());
        std::string error;
        parts->acceptor = open_listener(manager.context(), "127.0.0.1", 0, error);
        port = parts->acceptor.local_endpoint().port();
        parts->tls = make_server_tls_context(test::test_certificate_path());
        parts->handshake = handshake;
        manager.keep(parts);
        net::post(manager.context(), [parts] { parts->accept(); });
    }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(port) + "/api/v1/ping"; }

private:
    struct held : std::enable_shared_from_this<held> {
        explicit held(net::io_context& io) : acceptor(io) {}
        void accept() {
            acceptor.async_accept([self = shared_from_this()](beast::error_code ec, net::ip::tcp::socket socket) {
                if (ec) return;
                auto stream = std::make_shared<beast::ssl_stream<beast::tcp_stream>>(std::move(socket), *self->tls);
                self->streams.push_back(stream);
                if (self->handshake) stream->async_handshake(net::ssl::stream_base::server, [](beast::error_code) {});
                self->accept();
            });
        }
        net::ip::tcp::acceptor acceptor;
        std::shared_ptr<net::ssl::context> tls;
        bool handshake = false;
        std::vector<std::shared_ptr<beast::ssl_stream<beast::tcp_stream>>> streams;
    };
    io_manager manager;
    std::uint16_t port = 0;
};

// A self-signed certificate that expired yesterday, for another name than the host.
std::string write_expired_certificate(const std::string& folder) {
    std::string path = folder + "expired.pem";
    vandrel::test::write_self_signed_pem(path, 2048, "elsewhere.invalid", 7, -2L * 86400, -86400, false);
    return path;
}

class PostJson : public ::testing::Test {
protected:
    recording_server server{make_server_tls_context(test::test_certificate_path())};
};

TEST_F(PostJson, ReturnsTheBodyOfAnyStatus) {
    EXPECT_EQ(post_json(server.url("/missing"), "{\"a\": 1}"), "no such thing");
    EXPECT_EQ(post_json(server.url("/api/v1/ping"), "{\"a\": 1}"), "ok");
}

TEST_F(PostJson, BodyGoesAsPostEmptyBodyAsGet) {
    ASSERT_EQ(post_json(server.url("/api/v1/ping"), "{\"device_id\": \"x\"}"), "ok");
    ASSERT_EQ(post_json(server.url("/api/v1/get_avatar"), ""), "ok");
    auto seen = server.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].target, "/api/v1/ping");
    EXPECT_EQ(seen[0].body, "{\"device_id\": \"x\"}");
    EXPECT_EQ(seen[0].content_type, "application/json");
    EXPECT_EQ(seen[0].content_length, "18");
    EXPECT_EQ(seen[1].method, "GET");
    EXPECT_EQ(seen[1].target, "/api/v1/get_avatar");
    EXPECT_EQ(seen[1].body, "");
    EXPECT_EQ(seen[1].content_type, "application/json");
    EXPECT_EQ(seen[1].content_length, "0");
}

TEST_F(PostJson, ExtraHeadersGoOutOnlyOnceTheServerShowedTheRequiredKey) {
    const std::string key = certificate_key_sha256(test::test_certificate_path());
    const https_answer answer =
        post_json_for_key(server.url("/api/v1/ping"), "{}", 10s, default_answer_limit, {{{"x_probe", "42"}}, key});
    EXPECT_EQ(answer.body, "ok");
    EXPECT_EQ(answer.key_sha256, key);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].probe, "42");

    const https_answer refused = post_json_for_key(server.url("/api/v1/ping"), "{}", 10s, default_answer_limit,
                                                   {{{"x_probe", "43"}}, std::string(64, '0')});
    EXPECT_EQ(refused.body, "");
    EXPECT_EQ(refused.key_sha256, key) << "the key it showed";
    EXPECT_EQ(server.requests().size(), 1u) << "nothing of the request went to a server with another key";
}

TEST_F(PostJson, ManyCallsAtOnceShareNothing) {
    std::vector<std::thread> threads;
    std::atomic<int> answered{0};
    for (int i = 0; i < 8; ++i) {
        threads.emplace_back([&] {
            if (post_json(server.url("/api/v1/ping"), "{}") == "ok") ++answered;
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(answered, 8);
}

TEST(PostJsonCertificate, ExpiredSelfSignedCertificateOfAnotherNameIsAccepted) {
    test::temp_folder folder;
    recording_server server(make_server_tls_context(write_expired_certificate(folder.path())));
    EXPECT_EQ(post_json(server.url("/api/v1/ping"), "{}"), "ok");
}

TEST(PostJsonFailure, SilentServerGivesEmptyTextAfterTheDeadline) {
    for (bool handshake : {false, true}) {
        SCOPED_TRACE(handshake ? "silent after the handshake" : "no handshake");
        silent_server server(handshake);
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(post_json(server.url(), "{}", 400ms), "");
        auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_GE(elapsed, 400ms);
        EXPECT_LT(elapsed, 10s);  // ended by the deadline, not by anything else
    }
}

TEST(PostJsonFailure, NoServerBadUrlsAndPlainHttpGiveEmptyText) {
    std::uint16_t closed_port;
    {
        net::io_context io;
        std::string error;
        auto acceptor = open_listener(io, "127.0.0.1", 0, error);
        closed_port = acceptor.local_endpoint().port();
    }
    EXPECT_EQ(post_json("https://127.0.0.1:" + std::to_string(closed_port) + "/api/v1/ping", "{}", 5s), "");
    EXPECT_EQ(post_json("https://:45001/api/v1/ping", "{}", 5s), "");
    EXPECT_EQ(post_json("https://from_ui:45001/api/v1/ping", "{}", 5s), "");
    EXPECT_EQ(post_json("not a url", "{}", 5s), "");

    // A plain HTTP server where TLS is expected: the handshake fails, nothing is returned.
    io_manager manager("plain");
    http_server_config config;
    config.host = "127.0.0.1";
    config.handler = [](const http_request&) {
        http_answer answer;
        answer.body = "plain";
        return answer;
    };
    std::string error;
    std::uint16_t port = start_http_server(manager, std::move(config), error);
    ASSERT_NE(port, 0) << error;
    EXPECT_EQ(post_json("https://127.0.0.1:" + std::to_string(port) + "/", "{}", 5s), "");
}

}  // namespace
}  // namespace vandrel
