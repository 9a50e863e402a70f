#include "core_lib/net/http/tls_sessions.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/write.hpp>

#include "core_lib/net/http/https_client.h"
#include "core_lib/net/http/tls_context.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

namespace net = boost::asio;
using tcp = net::ip::tcp;

struct call_result {
    bool resumed = false;
    std::string key;  // the key digest the handshake showed
};

// One request over a TLS connection that offers and then keeps the cache's session.
call_result call(tls_session_cache& cache, const testing::stub_peer& stub) {
    net::io_context io;
    static const auto context = make_client_tls_context();
    net::ssl::stream<tcp::socket> stream(io, *context);
    stream.next_layer().connect(tcp::endpoint(net::ip::make_address(stub.address()), stub.port()));
    const std::string endpoint = stub.address() + ":" + std::to_string(stub.port());
    cache.offer(endpoint, stream.native_handle());
    stream.handshake(net::ssl::stream_base::client);
    net::write(stream, net::buffer(std::string("GET /api/v1/ping HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")));
    char answer[4096];
    boost::system::error_code ignored;
    stream.read_some(net::buffer(answer), ignored);
    cache.keep(endpoint, stream.native_handle());
    return {SSL_session_reused(stream.native_handle()) == 1, server_key_sha256(stream.native_handle())};
}

TEST(TlsSessions, ASecondCallResumesTheSessionAndStillShowsTheServersKey) {
    testing::temp_store store;
    auto stubs = testing::start_stub_peers({{"127.0.0.2", "peer-a", ""}, {"127.0.0.3", "peer-b", ""}});
    ASSERT_EQ(stubs.size(), 2u);
    tls_session_cache cache;
    const call_result first = call(cache, *stubs[0]);
    EXPECT_FALSE(first.resumed);
    EXPECT_FALSE(first.key.empty());
    const call_result second = call(cache, *stubs[0]);
    EXPECT_TRUE(second.resumed);
    EXPECT_EQ(second.key, first.key);
    // Another endpoint has no session of its own yet.
    EXPECT_FALSE(call(cache, *stubs[1]).resumed);
    EXPECT_TRUE(call(cache, *stubs[1]).resumed);
}

TEST(TlsSessions, CallsToPeersKeepTheirSessionsInTheRunningCore) {
    testing::temp_store store;
    testing::temp_services services(testing::loopback_config());
    auto stubs = testing::start_stub_peers({{"127.0.0.2", "peer-a", ""}});
    ASSERT_EQ(stubs.size(), 1u);
    EXPECT_FALSE(post_json(stubs[0]->url() + "/api/v1/ping", "{}").empty());
    // The session the call kept is the one the next call there takes up.
    EXPECT_TRUE(call(services.net().tls_sessions, *stubs[0]).resumed);
}

TEST(TlsSessions, ASessionOfOneServerIsNotTakenUpByAnother) {
    testing::temp_store store;
    auto a = testing::start_stub_peers({{"127.0.0.2", "peer-a", ""}});
    ASSERT_EQ(a.size(), 1u);
    tls_session_cache cache;
    call(cache, *a[0]);
    const std::uint16_t port = a[0]->port();
    a.clear();
    // Another server (its own ticket keys) at the same endpoint: a full handshake.
    auto again = std::make_unique<testing::stub_peer>("127.0.0.2", port, "peer-a");
    if (!again->listening()) GTEST_SKIP() << "the port was taken meanwhile";
    EXPECT_FALSE(call(cache, *again).resumed);
}

}  // namespace
}  // namespace vandrel
