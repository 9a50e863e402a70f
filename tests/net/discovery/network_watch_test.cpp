#include "core_lib/net/discovery/network_watch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/platform/platform_state.h"
#include "core_lib/store/service_flags.h"
#include "tests/support/network_platform.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

constexpr std::int64_t start_ms = 1700000000000;
constexpr std::int64_t half_hour_ms = 1800000;

void lower_flags() {
    peer_refresh_flag() = false;
    discovery_flag() = false;
    lan_announce_flag() = false;
}

bool flags_raised() { return peer_refresh_flag() && discovery_flag() && lan_announce_flag(); }
bool flags_lowered() { return !peer_refresh_flag() && !discovery_flag() && !lan_announce_flag(); }

// A device on one Wi-Fi network with one IPv4 network, after its first check.
class NetworkWatch : public ::testing::Test {
protected:
    void SetUp() override { baseline(); }
    void baseline() {
        doubles.platform->set_broadcast_addresses({"192.168.1.255"});
        doubles.platform->set_wifi("Home", "aa:bb:cc:00:00:01");
    }
    void first_check() {
        check_network_change(state, start_ms);
        set_peer_ip("peer-a", "10.0.0.5");
        lower_flags();
        store.ui().clear();
    }

    testing::temp_store store;
    testing::network_doubles doubles = testing::install_network_doubles();
    network_watch_state state;
};

TEST_F(NetworkWatch, TheFirstCheckResetsWithoutForgettingAnyPeer) {
    set_peer_ip("peer-a", "10.0.0.5");
    lower_flags();
    check_network_change(state, start_ms);
    EXPECT_EQ(get_peer_ip("peer-a"), "10.0.0.5");
    EXPECT_EQ(store.ui().count("peers_updated"), 0u);
    EXPECT_EQ(store.ui().count("device_updated"), 1u) << "the Wi-Fi seen for the first time";
    EXPECT_TRUE(flags_raised());
    EXPECT_FALSE(state.first_network_check);
    EXPECT_EQ(state.last_network_change_ms, start_ms);
}

TEST_F(NetworkWatch, AChangeOrHalfAnHourWithoutOneResetsThePeers) {
    const struct {
        const char* name;
        std::function<void(testing::network_doubles&)> change;
        std::int64_t after_ms;
        bool reset;
        bool redraw;  // "device_updated"
    } cases[] = {
        {"new IPv4 network",
         [](auto& d) {
             d.platform->set_broadcast_addresses({"192.168.1.255", "10.0.0.255"});
         },
         5000, true, false},
        {"network gone", [](auto& d) { d.platform->set_broadcast_addresses({}); }, 5000, true, false},
        {"new Wi-Fi name", [](auto& d) { d.platform->set_wifi("Office", "aa:bb:cc:00:00:01"); }, 5000, true, true},
        {"new access point", [](auto& d) { d.platform->set_wifi("Home", "aa:bb:cc:00:00:02"); }, 5000, true, true},
        {"hotspot started", [](auto& d) { d.hotspot->start("mesk-hotspot", "secret"); }, 5000, true, true},
        {"nothing", [](auto&) {}, 5000, false, false},
        {"nothing for half an hour", [](auto&) {}, half_hour_ms, false, false},
        {"nothing for longer", [](auto&) {}, half_hour_ms + 1, true, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        baseline();
        state = network_watch_state{};
        first_check();

        c.change(doubles);
        check_network_change(state, start_ms + c.after_ms);

        EXPECT_EQ(store.ui().count("peers_updated"), c.reset ? 1u : 0u);
        EXPECT_EQ(get_peer_ip("peer-a"), c.reset ? "" : "10.0.0.5");
        EXPECT_EQ(flags_raised(), c.reset);
        EXPECT_EQ(flags_lowered(), !c.reset);
        EXPECT_EQ(store.ui().count("device_updated"), c.redraw ? 1u : 0u);
        EXPECT_EQ(state.last_network_change_ms, c.reset ? start_ms + c.after_ms : start_ms);
    }
}

TEST_F(NetworkWatch, TheHotspotGoingUpOrDownRedrawsTheDeviceOnce) {
    first_check();
    const struct {
        bool started;
        std::size_t redraws;
    } steps[] = {{false, 0}, {true, 1}, {true, 0}, {false, 1}, {false, 0}};
    for (const auto& step : steps) {
        if (step.started) {
            doubles.hotspot->start("mesk-hotspot", "secret");
        } else {
            doubles.hotspot->stop();
        }
        store.ui().clear();
        send_device_updated(state);
        EXPECT_EQ(store.ui().count("device_updated"), step.redraws) << "hotspot started: " << step.started;
        EXPECT_EQ(state.hotspot_was_running, step.started);
    }
    // The name it took at its start is part of the network key: the next check redraws
    // (and resets) once more; the stop, which keeps the name, changes the key no further.
    store.ui().clear();
    check_network_change(state, start_ms + 10000);
    EXPECT_EQ(store.ui().count("device_updated"), 1u) << "the hotspot's name came with its first start";
    store.ui().clear();
    check_network_change(state, start_ms + 15000);
    EXPECT_TRUE(store.ui().texts().empty());
}

TEST_F(NetworkWatch, TheLoopNoticesANewNetworkWithinItsPeriod) {
    testing::temp_services services;
    first_check();
    services.net().threads.start("network watch", network_watch_loop);
    // Its own first check resets nothing.
    ASSERT_TRUE(testing::wait_until([] { return flags_raised(); }));
    EXPECT_EQ(get_peer_ip("peer-a"), "10.0.0.5");

    lower_flags();
    doubles.platform->set_broadcast_addresses({"172.16.0.255"});
    ASSERT_TRUE(testing::wait_until([&] { return store.ui().count("peers_updated") == 1; }));
    EXPECT_TRUE(peer_ip_snapshot().empty());
    ASSERT_TRUE(testing::wait_until([] { return flags_raised(); }));
}

// A platform whose addresses cannot be read for its first few looks.
class failing_network_platform : public testing::network_platform {
public:
    std::vector<std::string> get_broadcast_addresses() override {
        if (failures.load() > 0) {
            --failures;
            throw std::runtime_error("no addresses now");
        }
        return network_platform::get_broadcast_addresses();
    }
    std::atomic<int> failures{0};
};

TEST_F(NetworkWatch, ALookThatFailsEndsThatLookAndNotTheLoop) {
    testing::temp_services services;
    auto failing = std::make_shared<failing_network_platform>();
    failing->set_data_folder(doubles.platform->get_data_folder_path());
    failing->set_local_folder(doubles.platform->get_local_folder_path());
    failing->set_broadcast_addresses({"192.168.1.255"});
    failing->set_wifi("Home", "aa:bb:cc:00:00:01");
    failing->failures = 2;
    current_platform::get().set_services(failing);
    lower_flags();
    services.net().threads.start("network watch", network_watch_loop);
    ASSERT_TRUE(
        testing::wait_until([&] { return failing->failures.load() == 0 && flags_raised(); }, std::chrono::seconds(60)));
}

}  // namespace
}  // namespace vandrel
