// Two mesk programs on one machine, each bound to a loopback address of its own, find
// each other by a ping: no root, no namespaces, nothing leaves the machine.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <thread>

#include "core_lib/foundation/json.h"
#include "tests/support/child_process.h"
#include "tests/support/seeded_peer.h"

namespace fs = std::filesystem;
using vandrel::Json;
using vandrel::testing::ChildProcess;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

// 127.X.Y.: a loopback network of this test's own, so that tests running side by side
// never share a port.
std::string own_loopback_network() {
    std::mt19937 draw(std::random_device{}());
    std::uniform_int_distribution<int> octet(1, 254);
    return "127." + std::to_string(octet(draw)) + "." + std::to_string(octet(draw)) + ".";
}

class LoopbackPair : public ::testing::Test {
protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        for (auto* root : {&root_a_, &root_b_}) {
            char pattern[] = "/tmp/mesk-pair-XXXXXX";
            *root = mkdtemp(pattern);
        }
    }
    void TearDown() override {
        // The programs end before their folders go.
        a_.reset();
        b_.reset();
        fs::remove_all(root_a_);
        fs::remove_all(root_b_);
    }

    static std::string data_folder(const std::string& root) { return root + "/data/mesk/Data/"; }

    static std::unique_ptr<ChildProcess> start_bound(const std::string& address, const std::string& root) {
        auto env = vandrel::testing::environment_with({
            "HOME=" + root + "/home",
            "XDG_DATA_HOME=" + root + "/data",
            "XDG_CACHE_HOME=" + root + "/cache",
            "XDG_CONFIG_HOME=" + root + "/config",
            "DISPLAY=",
            "WAYLAND_DISPLAY=",
        });
        auto child = std::make_unique<ChildProcess>(std::vector<std::string>{MESK_BINARY, "--bind", address}, env);
        EXPECT_TRUE(child->wait_for_line("event core_started", 60s)) << "no core_started on " << address;
        return child;
    }

    static Json request(ChildProcess& child, const std::string& endpoint, const std::string& body) {
        child.write_line(endpoint + " " + body);
        const std::string prefix = "reply " + endpoint + " ";
        auto line = child.wait_for_line(prefix, 30s);
        EXPECT_TRUE(line) << "no reply to " << endpoint;
        if (!line) return Json();
        std::string err;
        return Json::parse(line->substr(prefix.size()), err);
    }

    // Polls the devices the program lists until `id` is there with `ip`; false when
    // the deadline passed first.
    static bool lists(ChildProcess& child, const std::string& id, const std::string& ip,
                      clock_type::time_point deadline) {
        for (;;) {
            const Json reply = request(child, "/get_recently_changed_devices", R"({"last_pull_devices": "0"})");
            for (const Json& device : reply["devices"].array_items()) {
                if (device["id"].string_value() == id && device["ip"].string_value() == ip) return true;
            }
            if (clock_type::now() >= deadline) return false;
            std::this_thread::sleep_for(50ms);
        }
    }

    // A's store, before A first starts, with B as a peer seen just now at B's address:
    // A's first refresh pass pings it there.
    static void seed_peer(const std::string& root, const std::string& id, const std::string& address) {
        vandrel::testing::seed_peer(data_folder(root), id, "Peer B", address);
    }

    const std::string network_ = own_loopback_network();
    const std::string address_a_ = network_ + "2";
    const std::string address_b_ = network_ + "3";
    std::string root_a_, root_b_;
    std::unique_ptr<ChildProcess> a_, b_;
};

TEST_F(LoopbackPair, APeerStoredBeforeTheStartIsPingedAndBothListEachOther) {
    b_ = start_bound(address_b_, root_b_);
    const std::string b_id = request(*b_, "/who_am_i", "{}")["device_id"].string_value();
    ASSERT_EQ(b_id.size(), 64u);
    seed_peer(root_a_, b_id, address_b_);

    a_ = start_bound(address_a_, root_a_);
    const auto deadline = clock_type::now() + 5s;
    const std::string a_id = request(*a_, "/who_am_i", "{}")["device_id"].string_value();
    ASSERT_EQ(a_id.size(), 64u);
    EXPECT_TRUE(lists(*a_, b_id, address_b_, deadline)) << "A did not find B at " << address_b_ << " in 5 s";
    EXPECT_TRUE(lists(*b_, a_id, address_a_, deadline)) << "B did not find A at " << address_a_ << " in 5 s";

    for (auto* child : {&a_, &b_}) {
        (*child)->write_line(":quit");
        EXPECT_TRUE((*child)->wait_exit(20s));
    }
}

}  // namespace
