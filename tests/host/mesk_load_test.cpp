// The built mesk under load from peers, with 1024 descriptors as an ordinary desktop
// process has: one address holds 2,000 idle connections, another floods the largest
// bodies the server takes, and a third pings all the while. The pings must all be
// answered and the process must stay small. Then one address floods TLS handshakes
// (new connections, each a full handshake, then closed or left stalled) while another
// pings, each ping on a new connection as peers call. The ping times are printed (the
// benchmark bench/hostile_load.sh runs these longer); only liveness and memory are
// checked here.
#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "core_lib/foundation/peer_limits.h"
#include "tests/support/child_process.h"
#include "tests/support/net_test_support.h"

namespace {

using namespace std::chrono_literals;
using vandrel::test::test_connection;
using vandrel::testing::ChildProcess;

std::string loopback_base() {
    std::mt19937 draw(std::random_device{}());
    std::uniform_int_distribution<int> octet(1, 254);
    return "127." + std::to_string(octet(draw)) + "." + std::to_string(octet(draw)) + ".";
}

// Resident memory of a process in KiB, 0 when it cannot be read.
long resident_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return 0;
}

std::chrono::seconds load_duration() {
    const char* text = std::getenv("MESK_LOAD_SECONDS");
    return std::chrono::seconds(text ? std::max(1, std::atoi(text)) : 5);
}

// Ping times in ms, sorted; p50, p99 and the worst of them.
struct ping_times {
    std::vector<double> ms;
    double at(std::size_t per_cent) const { return ms[std::min(ms.size() - 1, ms.size() * per_cent / 100)]; }
    void sort() { std::sort(ms.begin(), ms.end()); }
};

// One mesk on a loopback address of its own, with 1024 descriptors, in a folder that
// goes with it; it must end cleanly on ":quit".
class MeskUnderLoad : public ::testing::Test {
protected:
    void SetUp() override {
        rlimit own{};
        getrlimit(RLIMIT_NOFILE, &own);
        if (own.rlim_max != RLIM_INFINITY && own.rlim_max < 2300) GTEST_SKIP() << "skipped: too few descriptors here";
        own.rlim_cur = own.rlim_max == RLIM_INFINITY ? 8192 : std::min<rlim_t>(own.rlim_max, 8192);
        setrlimit(RLIMIT_NOFILE, &own);

        char pattern[] = "/tmp/mesk-load-XXXXXX";
        root = mkdtemp(pattern);
        base = loopback_base();
        address = base + "1";
        auto env = vandrel::testing::environment_with(
            {"HOME=" + root + "/home", "XDG_DATA_HOME=" + root + "/data", "XDG_CACHE_HOME=" + root + "/cache",
             "XDG_CONFIG_HOME=" + root + "/config", "DISPLAY=", "WAYLAND_DISPLAY="});
        mesk = std::make_unique<ChildProcess>(
            std::vector<std::string>{"/usr/bin/prlimit", "--nofile=1024:1024", MESK_BINARY, "--bind", address}, env);
        ASSERT_TRUE(mesk->wait_for_line("event core_started", 60s));
    }

    void TearDown() override {
        if (mesk) {
            mesk->write_line(":quit");
            auto status = mesk->wait_exit(30s);
            EXPECT_TRUE(status);
            if (status) {
                EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
            }
        }
        std::error_code ignored;
        if (!root.empty()) std::filesystem::remove_all(root, ignored);
    }

    std::string root;
    std::string base;
    std::string address;
    std::unique_ptr<ChildProcess> mesk;
};

TEST_F(MeskUnderLoad, AHandshakeFloodFromOneAddressLeavesAnotherPeersPingsAnswered) {
    const auto until = std::chrono::steady_clock::now() + load_duration();
    std::atomic<bool> over{false};
    // Each flooding thread makes new connections as fast as the server takes them, each
    // with a full handshake; half of them close at once, the others stall a while
    // (holding a place under the address's cap) before they close.
    std::atomic<long> handshakes{0};
    std::vector<std::thread> flood;
    for (int t = 0; t < 8; ++t) {
        flood.emplace_back([&, t] {
            while (!over) {
                test_connection connection(45001, true, address, 10s, base + "11");
                if (!connection.connected()) continue;
                ++handshakes;
                if (t % 2 == 1) {
                    for (int i = 0; i < 10 && !over; ++i) std::this_thread::sleep_for(20ms);
                }
            }
        });
    }

    // Another peer pings on a new connection each time, as peers call each other.
    ping_times pings;
    int unanswered = 0;
    while (std::chrono::steady_clock::now() < until) {
        const auto sent = std::chrono::steady_clock::now();
        test_connection pinger(45001, true, address, 20s, base + "12");
        auto reply = pinger.request("POST", "/api/v1/ping", "{}");
        const auto answered = std::chrono::steady_clock::now();
        if (!reply.ok || reply.body.find("remote_id") == std::string::npos) {
            ++unanswered;
        } else {
            pings.ms.push_back(std::chrono::duration<double, std::milli>(answered - sent).count());
        }
        std::this_thread::sleep_for(20ms);
    }
    over = true;
    for (auto& thread : flood) thread.join();
    const double seconds = std::chrono::duration<double>(load_duration()).count();

    ASSERT_FALSE(pings.ms.empty());
    pings.sort();
    std::printf(
        "handshake flood: pings %zu, unanswered %d, p50 %.1f ms, p99 %.1f ms, max %.1f ms; "
        "flood handshakes %ld (%.0f/s)\n",
        pings.ms.size(), unanswered, pings.at(50), pings.at(99), pings.ms.back(), handshakes.load(),
        static_cast<double>(handshakes.load()) / seconds);
    EXPECT_EQ(unanswered, 0);
    EXPECT_GT(handshakes.load(), 0) << "the flood never got through";
    EXPECT_LT(pings.ms.back(), 5000.0) << "a ping waited seconds";
}

TEST_F(MeskUnderLoad, AFloodAndIdleConnectionsFromOthersLeaveAPeerServedAndTheProcessSmall) {
    const auto until = std::chrono::steady_clock::now() + load_duration();
    std::atomic<bool> over{false};

    // 2,000 connections from one address that never send a byte.
    boost::asio::io_context io;
    std::vector<boost::asio::ip::tcp::socket> idle;
    const boost::asio::ip::tcp::endpoint server(boost::asio::ip::make_address(address), 45001);
    for (int i = 0; i < 2000; ++i) {
        boost::asio::ip::tcp::socket socket(io);
        boost::system::error_code ec;
        socket.open(boost::asio::ip::tcp::v4(), ec);
        if (!ec) socket.bind({boost::asio::ip::make_address(base + "10"), 0}, ec);
        if (!ec) socket.connect(server, ec);
        if (!ec) idle.push_back(std::move(socket));
    }

    // The largest bodies, from another address: a text, and an array of many values.
    const std::size_t body_bytes = vandrel::limits::peer_body_bytes - 64;
    const std::string big_text = "{\"data\": \"" + std::string(body_bytes, 'x') + "\"}";
    std::string many_values = "[";
    while (many_values.size() < body_bytes) many_values += "1,";
    many_values += "1]";
    std::atomic<long> flood_requests{0};
    std::vector<std::thread> flood;
    for (int t = 0; t < 8; ++t) {
        flood.emplace_back([&, t] {
            while (!over) {
                test_connection connection(45001, true, address, 20s, base + "11");
                while (!over && connection.connected()) {
                    auto reply = connection.request("POST", "/api/v1/hello_world", t % 2 ? big_text : many_values);
                    if (!reply.ok) break;
                    ++flood_requests;
                }
            }
        });
    }

    // A third peer pings all the while, on one connection it keeps.
    std::vector<double> ping_ms;
    long most_kib = 0;
    int unanswered = 0;
    {
        std::unique_ptr<test_connection> pinger;
        while (std::chrono::steady_clock::now() < until) {
            if (!pinger || !pinger->connected()) {
                pinger = std::make_unique<test_connection>(45001, true, address, 20s, base + "12");
            }
            const auto sent = std::chrono::steady_clock::now();
            auto reply = pinger->request("POST", "/api/v1/ping", "{}");
            const auto answered = std::chrono::steady_clock::now();
            if (!reply.ok || reply.body.find("remote_id") == std::string::npos) {
                ++unanswered;
                pinger.reset();
            } else {
                ping_ms.push_back(std::chrono::duration<double, std::milli>(answered - sent).count());
            }
            most_kib = std::max(most_kib, resident_kib(mesk->pid()));
            std::this_thread::sleep_for(50ms);
        }
    }
    over = true;
    for (auto& thread : flood) thread.join();
    idle.clear();

    ASSERT_FALSE(ping_ms.empty());
    std::sort(ping_ms.begin(), ping_ms.end());
    const double p50 = ping_ms[ping_ms.size() / 2];
    const double p99 = ping_ms[std::min(ping_ms.size() - 1, ping_ms.size() * 99 / 100)];
    std::printf(
        "pings %zu, unanswered %d, p50 %.1f ms, p99 %.1f ms, max %.1f ms; flood requests %ld; "
        "resident at most %ld KiB\n",
        ping_ms.size(), unanswered, p50, p99, ping_ms.back(), flood_requests.load(), most_kib);
    EXPECT_EQ(unanswered, 0);
    EXPECT_GT(flood_requests.load(), 0) << "the flood never got through";
    EXPECT_LT(ping_ms.back(), 5000.0) << "a ping waited seconds";
#ifndef MESK_SANITIZED
    // Under a sanitizer the process carries its shadow memory and quarantine.
    EXPECT_LT(most_kib, 200 * 1024) << "resident memory over 200 MB";
#endif
}

}  // namespace
