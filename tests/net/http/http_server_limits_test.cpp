// The server's limits against hosts that have proven nothing: together they hold only a
// share of the connections and of the body budget, a proven peer's connection to a full
// server closes the unproven one idle longest, a body slower than the minimum rate is
// cut off and its room returned, and a request whose peer has gone is never run.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/net/http/http_server.h"
#include "core_lib/net/http/io_manager.h"
#include "tests/support/net_test_support.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using test::test_connection;

constexpr const char* proven_address = "127.0.0.2";

// A plain server on 127.0.0.1 that holds 127.0.0.2 for proven. "/hold" waits until
// released; everything else answers "pong".
class ServerLimits : public ::testing::Test {
protected:
    void start(http_limits limits) {
        http_server_config config;
        config.host = "127.0.0.1";
        config.limits = limits;
        config.is_proven = [](const std::string& address) { return address == proven_address; };
        config.handler = [this](const http_request& request) {
            ++requests;
            if (request.path == "/hold") {
                std::unique_lock<std::mutex> lock(mutex);
                ++holding;
                changed.notify_all();
                changed.wait(lock, [this] { return released; });
            }
            http_answer answer;
            answer.body = "pong";
            return answer;
        };
        std::string error;
        port = start_http_server(manager, std::move(config), error);
        ASSERT_NE(port, 0) << error;
    }
    void TearDown() override { release(); }

    std::unique_ptr<test_connection> connect(const std::string& source) {
        return std::make_unique<test_connection>(port, false, "127.0.0.1", 10s, source);
    }
    bool served(test_connection& connection) { return connection.request("GET", "/ping").body == "pong"; }
    bool held(int count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, 20s, [&] { return holding >= count; });
    }
    void release() {
        const std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }
    // The head of a POST announcing `length` bytes of body.
    static std::string post_head(std::size_t length) {
        return "POST /api/v1/ping HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
    }

    std::atomic<int> requests{0};
    std::mutex mutex;
    std::condition_variable changed;
    int holding = 0;
    bool released = false;
    io_manager manager{"limits server", 50ms, 2};
    std::uint16_t port = 0;
};

TEST_F(ServerLimits, UnprovenHostsHoldTheirShareAndAProvenPeerClosesTheOneIdleLongest) {
    http_limits limits;
    limits.max_connections = 6;
    limits.max_unproven_connections = 3;
    start(limits);
    std::vector<std::unique_ptr<test_connection>> unproven;
    for (const char* source : {"127.0.0.1", "127.0.0.3", "127.0.0.4"}) {
        unproven.push_back(connect(source));
        ASSERT_TRUE(served(*unproven.back()));
    }
    // The first one idles longest: the others ask again.
    std::this_thread::sleep_for(50ms);
    for (std::size_t i = 1; i < unproven.size(); ++i) ASSERT_TRUE(served(*unproven[i]));
    // Their share is full, whichever address a host uses next.
    for (const char* source : {"127.0.0.1", "127.0.0.5"}) {
        auto refused = connect(source);
        EXPECT_FALSE(refused->connected() && served(*refused)) << source << " took more than the share";
    }
    std::vector<std::unique_ptr<test_connection>> proven;
    for (int i = 0; i < 3; ++i) {
        proven.push_back(connect(proven_address));
        ASSERT_TRUE(served(*proven.back())) << "a proven peer lost its room";
    }
    // The server is full: a proven peer still gets in, in place of the idlest unproven one.
    proven.push_back(connect(proven_address));
    EXPECT_TRUE(served(*proven.back()));
    EXPECT_TRUE(unproven[0]->closed_by_server(5s)) << "the idlest unproven connection stayed";
    for (std::size_t i = 1; i < unproven.size(); ++i) EXPECT_TRUE(served(*unproven[i]));
    for (auto& connection : proven) EXPECT_TRUE(served(*connection));
}

TEST_F(ServerLimits, BodiesAreBoundedPerAddressAndForUnprovenHostsAndASlowOneIsCutOff) {
    http_limits limits;
    limits.buffered_body_bytes = 100000;
    limits.buffered_body_bytes_per_address = 40000;
    limits.unproven_body_bytes = 60000;
    limits.min_body_bytes_per_second = 20000;
    limits.body_grace = 500ms;
    start(limits);
    struct held_body {
        const char* source;
        std::size_t length;
        bool fits;
    };
    // Each announces its body and sends one byte of it.
    const held_body cases[] = {
        {"127.0.0.1", 30000, true},    {"127.0.0.1", 20000, false},  // over the address's bound
        {"127.0.0.3", 25000, true},    {"127.0.0.4", 10000, false},  // over the unproven share
        {proven_address, 40000, true},
    };
    std::vector<std::unique_ptr<test_connection>> open;
    for (const held_body& c : cases) {
        open.push_back(connect(c.source));
        ASSERT_TRUE(open.back()->send_raw(post_head(c.length) + "x"));
        if (!c.fits) {
            EXPECT_EQ(open.back()->read_reply().status, 503u) << c.source << " " << c.length;
        }
    }
    // The held bodies are too slow: cut off, and their room comes back.
    for (std::size_t i = 0; i < open.size(); ++i) {
        if (cases[i].fits) {
            EXPECT_TRUE(open[i]->closed_by_server(10s)) << "a slow body was kept";
        }
    }
    auto again = connect("127.0.0.1");
    const std::string body(30000, 'y');
    EXPECT_EQ(again->request("POST", "/api/v1/ping", body).body, "pong") << "the budget was not returned";
    EXPECT_EQ(requests, 1);
}

TEST_F(ServerLimits, ARequestWhoseConnectionClosedWhileItWaitedIsNotRun) {
    http_limits limits;
    limits.workers = 1;
    start(limits);
    auto holder = connect(proven_address);
    ASSERT_TRUE(holder->send_raw("GET /hold HTTP/1.1\r\nHost: x\r\n\r\n"));
    ASSERT_TRUE(held(1));
    {
        auto gone = connect("127.0.0.3");
        ASSERT_TRUE(gone->send_raw("GET /ping HTTP/1.1\r\nHost: x\r\n\r\n"));
        std::this_thread::sleep_for(100ms);
    }
    std::this_thread::sleep_for(100ms);
    release();
    EXPECT_EQ(holder->read_reply().body, "pong");
    auto after = connect("127.0.0.3");
    EXPECT_TRUE(served(*after));
    EXPECT_EQ(requests, 2) << "the abandoned request ran";
}

}  // namespace
}  // namespace vandrel
