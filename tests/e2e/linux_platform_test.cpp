// The platform layer of a real mesk on a device of the test network: the hotspot as
// this machine has it, the hotspot through NetworkManager (a stand-in nmcli first on
// PATH, and a link named wlan0 in the device's namespace for the stand-in's Wi-Fi
// device), and the keep-awake (a stand-in systemd-inhibit). Nothing reaches a real radio:
// a device's namespace holds no interface of the machine's.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/support/standin_programs.h"

using vandrel::Json;
using vandrel::testing::MeskSession;
using vandrel::testing::StandinInhibitor;
using vandrel::testing::StandinNmcli;
using vandrel::testing::TestNetwork;
using namespace std::chrono_literals;

namespace {

std::string system_path() {
    const char* path = std::getenv("PATH");
    return path && *path ? path : "/usr/local/bin:/usr/bin:/bin";
}

class LinuxPlatform : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = TestNetwork::unavailable_reason();
        if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
        net_ = std::make_unique<TestNetwork>(1);
    }

    // mesk on the device with these variables set over the device's environment, once it
    // said "core_started".
    std::unique_ptr<MeskSession> start_mesk(const std::vector<std::string>& variables = {}) {
        std::vector<std::string> argv = {"/usr/bin/env"};
        argv.insert(argv.end(), variables.begin(), variables.end());
        argv.push_back(MESK_BINARY);
        auto session = std::make_unique<MeskSession>(net_->start(net_->device(0), argv));
        EXPECT_TRUE(session->started()) << "no core_started";
        return session;
    }

    // The stand-in's Wi-Fi device, present in the device's namespace as a link of its own.
    void add_wifi_link() {
        int status = -1;
        net_->run(net_->device(0),
                  {"/usr/bin/env", "ip", "link", "add", "wlan0", "type", "veth", "peer", "name", "wlan0-peer"},
                  &status);
        ASSERT_EQ(status, 0) << "cannot add a link to the namespace";
    }

    static void expect_no_hotspot_event(MeskSession& mesk) {
        EXPECT_TRUE(mesk.events_within("hotspot_created", 3s).empty());
        EXPECT_TRUE(mesk.events_within("hotspot_stopped", 0s).empty());
    }

    std::unique_ptr<TestNetwork> net_;
};

TEST_F(LinuxPlatform, OnThisMachineStartUpSendsNoHotspotEventAndThereIsNoHotspotFeature) {
    // The machine's own programs; the device's namespace holds no Wi-Fi interface.
    auto mesk = start_mesk();
    const Json info = mesk->request("/get_device_info", "{}");
    EXPECT_EQ(info["run_wifi_direct_on_startup"], Json(true)) << "start-up was asked to start the hotspot";
    EXPECT_EQ(info["has_hotspot_feature"], Json(false));
    EXPECT_EQ(info["hotspot_is_running"], Json(false));
    EXPECT_EQ(info["hotspot_ssid"], Json(""));
    expect_no_hotspot_event(*mesk);

    EXPECT_EQ(mesk->request("/start_hotspot", "{}").dump(), R"({"activated": false, "status": "success"})");
    expect_no_hotspot_event(*mesk);
    EXPECT_TRUE(mesk->quit());
}

TEST_F(LinuxPlatform, WithoutNetworkManagerStartUpSaysNothingOfAHotspot) {
    StandinNmcli nm;
    nm.set_running(false);
    add_wifi_link();
    auto mesk = start_mesk({"PATH=" + nm.folder() + ":" + system_path()});
    EXPECT_EQ(mesk->request("/get_device_info", "{}")["has_hotspot_feature"], Json(false));
    expect_no_hotspot_event(*mesk);
    EXPECT_TRUE(mesk->quit());
    EXPECT_GT(nm.count("-t -f DEVICE,TYPE,STATE,CONNECTION device status"), 0u) << "NetworkManager was never asked";
    EXPECT_EQ(nm.count("connection"), 0u);
}

TEST_F(LinuxPlatform, StartUpAnnouncesAHotspotThatRunsWithTheDevicesOwnKey) {
    StandinNmcli nm;
    nm.set_devices({"eth0:ethernet:unmanaged:", "wlan0:wifi:disconnected:"});
    nm.set_access_points({"wlan0"});
    nm.set_device_state("wlan0", "30 (disconnected)", "");
    add_wifi_link();
    const std::string path = "PATH=" + nm.folder() + ":" + system_path();

    auto mesk = start_mesk({path});
    const Json created = mesk->event("hotspot_created", 30s);
    ASSERT_FALSE(created.is_null()) << "no hotspot_created";
    std::string alias = mesk->request("/who_am_i", "{}")["alias"].string_value();
    alias.erase(std::remove(alias.begin(), alias.end(), ' '), alias.end());
    const std::string key = mesk->request("/get_hotspot_password", "{}")["password"].string_value();
    EXPECT_EQ(key.size(), 12u);
    EXPECT_EQ(created["password"].string_value(), key);
    EXPECT_EQ(created["ssid"].string_value(), ("MeskWiFi-" + alias).substr(0, 32));
    EXPECT_EQ(nm.count("connection add save no type wifi ifname wlan0 con-name mesk-hotspot autoconnect no ssid " +
                       created["ssid"].string_value() + " "),
              1u);
    const std::string psk = " wifi-sec.psk " + key;
    bool key_given = false;
    for (const auto& call : nm.calls()) {
        key_given =
            key_given || (call.size() > psk.size() && call.compare(call.size() - psk.size(), psk.size(), psk) == 0);
    }
    EXPECT_TRUE(key_given) << "the profile does not carry the key";

    const Json info = mesk->request("/get_device_info", "{}");
    EXPECT_EQ(info["has_hotspot_feature"], Json(true));
    EXPECT_EQ(info["hotspot_is_running"], Json(true));
    EXPECT_EQ(info["hotspot_password"].string_value(), key);

    EXPECT_EQ(mesk->request("/stop_hotspot", "{}")["activated"], Json(true));
    const Json stopped = mesk->event("hotspot_stopped", 30s);
    EXPECT_EQ(stopped["reason"].string_value(), "hotspot stopped by user");
    EXPECT_EQ(nm.count("connection down mesk-hotspot"), 1u);
    EXPECT_TRUE(mesk->quit());

    // The same key after a restart; and a running hotspot ends with mesk.
    mesk = start_mesk({path});
    const Json again = mesk->event("hotspot_created", 30s);
    EXPECT_EQ(again["password"].string_value(), key);
    EXPECT_TRUE(mesk->quit());
    EXPECT_EQ(nm.count("connection down mesk-hotspot"), 2u);
}

TEST_F(LinuxPlatform, MeskHoldsTheIdleInhibitorUntilItQuits) {
    StandinInhibitor inhibitor;
    // A system bus is named, so that systemd-inhibit is asked.
    auto mesk = start_mesk({"PATH=" + inhibitor.folder() + ":" + system_path(),
                            "DBUS_SYSTEM_BUS_ADDRESS=unix:path=/run/dbus/system_bus_socket"});
    ASSERT_TRUE(inhibitor.wait_for("held", 30s));
    const std::vector<std::string> record = inhibitor.record();
    EXPECT_EQ(record.front().rfind("--what=idle --who=mesk --why=Sharing files with nearby devices --mode=block /", 0),
              0u)
        << record.front();
    EXPECT_EQ(record.back(), "held");
    EXPECT_TRUE(mesk->quit());
    EXPECT_TRUE(inhibitor.wait_for("released", 30s));
}

}  // namespace
