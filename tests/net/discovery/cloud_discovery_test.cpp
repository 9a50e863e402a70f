#include "core_lib/net/discovery/cloud_discovery.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/net_state.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/settings.h"
#include "tests/support/network_platform.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::stub_peer;
using testing::wait_until;

const std::string ping = "/api/v1/ping";

Json listed(const std::string& id, const std::string& local_ips) {
    return Json::object{{"device_id", id}, {"local_ips", local_ips}, {"sys_info", "listed/os"}, {"device_alias", "L"}};
}

Json answer_listing(Json::array devices) { return Json::object{{"network_devices", std::move(devices)}}; }

TEST(DiscoveryAddresses, IPv4ComesFirstAndEveryAddressInItsNormalForm) {
    const struct {
        const char* local_ips;
        std::vector<std::string> tried;
    } cases[] = {
        {"fe80::1%eth0|192.168.1.7|10.0.0.5", {"10.0.0.5", "192.168.1.7", "[fe80::1]"}},
        {"::FFFF:192.168.1.7", {"192.168.1.7"}},
        {"FE80::ABCD|2001:DB8::1", {"[2001:db8::1]", "[fe80::abcd]"}},
        {"[fe80::2]", {"[fe80::2]"}},
        {"10.0.0.5|::ffff:10.0.0.5", {"10.0.0.5"}},
        {"garbage|host.lan||10.0.0.5:45001|from_ui|300.1.1.1|10.0.0.6", {"10.0.0.6"}},
        {"", {}},
        {"10.0.0.1|10.0.0.2|10.0.0.3|10.0.0.4|10.0.0.5|10.0.0.6|10.0.0.7|10.0.0.8|10.0.0.9|fe80::1",
         {"10.0.0.1", "10.0.0.2", "10.0.0.3", "10.0.0.4", "10.0.0.5", "10.0.0.6", "10.0.0.7", "10.0.0.8"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.local_ips);
        EXPECT_EQ(discovery_addresses(c.local_ips), c.tried);
    }
}

// peer-d answers on 127.0.0.3 and 127.0.0.4; on 127.0.0.2 another device answers, on
// 127.0.0.20 this device; nobody on 127.0.0.10. The cloud stands in on 127.0.0.1.
class CloudDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        own = get_userid();
        stubs = testing::start_stub_peers({{"127.0.0.2", "peer-other", ""},
                                           {"127.0.0.3", "peer-d", ""},
                                           {"127.0.0.4", "peer-d", ""},
                                           {"127.0.0.20", own, ""}});
        ASSERT_EQ(stubs.size(), 4u);
        cloud = std::make_unique<stub_peer>("127.0.0.1", 0, "cloud");
        ASSERT_TRUE(cloud->listening());
        net_config config = testing::loopback_config(stubs[0]->port());
        config.cloud_url = cloud->url();
        services = std::make_unique<testing::temp_services>(config);
    }
    void TearDown() override { services.reset(); }
    std::size_t pings_at(const std::string& address) {
        std::size_t n = 0;
        for (const auto& stub : stubs) {
            if (stub->address() == address) n += stub->count(ping);
        }
        return n;
    }

    testing::temp_store store;
    std::string own;
    std::vector<std::unique_ptr<stub_peer>> stubs;
    std::unique_ptr<stub_peer> cloud;
    std::unique_ptr<testing::temp_services> services;
};

TEST_F(CloudDiscovery, AListedDeviceIsRecordedOnceAtTheFirstAddressWhereItAnswersAsItself) {
    // Each list is tried in its sorted order: the first address, then 127.0.0.3.
    const struct {
        const char* first;
        const char* local_ips;
    } cases[] = {
        {"another device", "127.0.0.4|127.0.0.3|127.0.0.2"},
        {"nobody", "127.0.0.4|127.0.0.3|127.0.0.10"},
        {"this device", "127.0.0.4|127.0.0.20|127.0.0.3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.first);
        forget_peer_ip("peer-d");
        const std::size_t at_3 = pings_at("127.0.0.3");
        const std::size_t at_4 = pings_at("127.0.0.4");

        take_discovery_answer(answer_listing({listed("peer-d", c.local_ips)}));

        EXPECT_EQ(get_peer_ip("peer-d"), "127.0.0.3");
        EXPECT_EQ(store.text("select last_ip from devices where id = 'peer-d'"), "127.0.0.3");
        EXPECT_EQ(pings_at("127.0.0.3") - at_3, 1u);
        EXPECT_EQ(pings_at("127.0.0.4") - at_4, 0u) << "the addresses after the one that answered are not tried";
    }
    EXPECT_EQ(pings_at("127.0.0.2"), 1u);
    EXPECT_EQ(pings_at("127.0.0.20"), 1u);
    EXPECT_EQ(get_peer_ip(own), "");
    EXPECT_TRUE(db_get_device(own).is_null());
}

TEST_F(CloudDiscovery, ElementsNamingThisDeviceOrNoPeerAreSkippedWithoutAPing) {
    take_discovery_answer(answer_listing({
        listed(own, "127.0.0.3"),
        listed("127.0.0.3", "127.0.0.3"),
        listed("", "127.0.0.3"),
        listed(std::string(200, 'x'), "127.0.0.3"),
        Json::object{{"device_id", 5}, {"local_ips", "127.0.0.3"}},
        listed("peer-d", "127.0.0.4"),
    }));
    EXPECT_EQ(pings_at("127.0.0.3"), 0u);
    EXPECT_EQ(pings_at("127.0.0.4"), 1u) << "the elements after them are still taken";
    EXPECT_EQ(get_peer_ip("peer-d"), "127.0.0.4");

    for (const Json& nothing : {Json(), Json("text"), Json(Json::object{{"network_devices", Json::object{}}})}) {
        take_discovery_answer(nothing);
    }
    std::size_t pings = 0;
    for (const auto& stub : stubs) pings += stub->count(ping);
    EXPECT_EQ(pings, 1u);
}

TEST_F(CloudDiscovery, TheRequestCarriesThisDevicesNetworkAndIdentity) {
    testing::network_doubles doubles = testing::install_network_doubles();
    doubles.platform->set_wifi("Home Net", "aa:bb:cc:dd:ee:ff");
    doubles.platform->set_local_ips({"127.0.0.1", "fe80::1"});
    EXPECT_EQ(discovery_request(), Json(Json::object{{"bssid", "aa:bb:cc:dd:ee:ff"},
                                                     {"device_alias", get_alias()},
                                                     {"device_id", own},
                                                     {"local_ips", Json::array{"127.0.0.1", "fe80::1"}},
                                                     {"ssid", "Home Net"},
                                                     {"sys_info", get_device_model()}}));
}

TEST_F(CloudDiscovery, APassAsksTheCloudAndProvesTheDevicesItLists) {
    testing::network_doubles doubles = testing::install_network_doubles();
    doubles.platform->set_wifi("Home Net", "aa:bb");
    cloud->answer("/api/v1/discovery", answer_listing({listed("peer-d", "127.0.0.9|127.0.0.3")}).dump());
    (void)get_alias();  // made before the pass: a new alias asks for another pass
    discovery_flag() = true;
    services->net().threads.start("cloud discovery", discovery_loop);

    ASSERT_TRUE(wait_until([] { return get_peer_ip("peer-d") == "127.0.0.3"; }));
    const std::vector<stub_peer::request> asked = cloud->received();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].path, "/api/v1/discovery");
    EXPECT_EQ(asked[0].body, discovery_request().dump());
    EXPECT_FALSE(discovery_flag());
}

TEST_F(CloudDiscovery, APassThatFailsInTheStoreLeavesTheLoopRunning) {
    cloud->answer("/api/v1/discovery", answer_listing({listed("peer-d", "127.0.0.3")}).dump());
    (void)get_alias();  // kept from now on: the request needs no store
    store.exec("alter table devices rename to devices_away");
    discovery_flag() = true;
    services->net().threads.start("cloud discovery", discovery_loop);
    // The device answers, and keeping it fails.
    ASSERT_TRUE(wait_until([&] { return pings_at("127.0.0.3") == 1; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(get_peer_ip("peer-d"), "");
    store.exec("alter table devices_away rename to devices");

    discovery_flag() = true;
    ASSERT_TRUE(wait_until([] { return get_peer_ip("peer-d") == "127.0.0.3"; }));
    EXPECT_EQ(cloud->received().size(), 2u);
}

}  // namespace
}  // namespace vandrel
