#include "MeskRuntimeComponent/nmcli_output.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandrel {
namespace {

TEST(NmcliOutput, TerseLinesSplitAtColonsNotEscapedOnes) {
    EXPECT_EQ(split_terse_line("wlan0:wifi:connected:Home\\:Net"),
              (std::vector<std::string>{"wlan0", "wifi", "connected", "Home:Net"}));
    EXPECT_EQ(split_terse_line("a\\\\:b:"), (std::vector<std::string>{"a\\", "b", ""}));
    EXPECT_EQ(split_terse_line(""), (std::vector<std::string>{""}));
}

TEST(NmcliOutput, DeviceListAndTheValuesOfOneDevice) {
    const std::vector<NmDevice> devices = parse_device_status(
        "eth0:ethernet:connected:Wired connection 1\n"
        "wlan0:wifi:disconnected:\n"
        "p2p-dev-wlan0:wifi-p2p:disconnected:--\n"
        "broken line\n"
        "lo:loopback:unmanaged:\n");
    ASSERT_EQ(devices.size(), 4u);
    EXPECT_EQ(devices[0].connection, "Wired connection 1");
    EXPECT_EQ(devices[1].name, "wlan0");
    EXPECT_EQ(devices[1].type, "wifi");
    EXPECT_EQ(devices[1].state, "disconnected");
    EXPECT_EQ(devices[1].connection, "");
    EXPECT_EQ(devices[2].connection, "");

    EXPECT_TRUE(parse_access_point_property("WIFI-PROPERTIES.AP:yes\n"));
    EXPECT_FALSE(parse_access_point_property("WIFI-PROPERTIES.AP:no\n"));
    EXPECT_FALSE(parse_access_point_property(""));

    const NmDeviceState connected =
        parse_device_state("GENERAL.STATE:100 (connected)\nGENERAL.CONNECTION:mesk-hotspot\n");
    EXPECT_EQ(connected.code, 100);
    EXPECT_EQ(connected.connection, "mesk-hotspot");
    const NmDeviceState none = parse_device_state("GENERAL.STATE:30 (disconnected)\nGENERAL.CONNECTION:--\n");
    EXPECT_EQ(none.code, 30);
    EXPECT_EQ(none.connection, "");
    EXPECT_EQ(parse_device_state("garbage").code, 0);
}

NmDevice wifi(const std::string& name, const std::string& state, const std::string& connection = "",
              bool access_point = true) {
    return {name, "wifi", state, connection, access_point};
}

TEST(NmcliOutput, TheHotspotNeverTakesADeviceFromItsNetwork) {
    const struct {
        const char* what;
        std::vector<NmDevice> devices;
        std::string device;
        PublisherError error;
    } cases[] = {
        {"a free one",
         {wifi("wlan0", "connected", "Home"), wifi("wlan1", "disconnected")},
         "wlan1",
         PublisherError::Success},
        {"the one already running it",
         {wifi("wlan0", "disconnected"), wifi("wlan1", "connected", "mesk-hotspot")},
         "wlan1",
         PublisherError::Success},
        {"only busy ones",
         {wifi("wlan0", "connected", "Home"), wifi("wlan1", "connecting (prepare)", "Cafe")},
         "",
         PublisherError::ResourceInUse},
        {"radio off", {wifi("wlan0", "unavailable")}, "", PublisherError::RadioNotAvailable},
        {"radio off beside a busy one",
         {wifi("wlan0", "unavailable"), wifi("wlan1", "connected", "Home")},
         "",
         PublisherError::ResourceInUse},
        {"none that can be an access point", {wifi("wlan0", "disconnected", "", false)}, "", PublisherError::Other},
        {"an unmanaged one", {wifi("wlan0", "unmanaged")}, "", PublisherError::Other},
        {"no Wi-Fi", {{"eth0", "ethernet", "disconnected", "", true}}, "", PublisherError::Other},
        {"nothing", {}, "", PublisherError::Other},
    };
    for (const auto& c : cases) {
        const HotspotDeviceChoice choice = choose_hotspot_device(c.devices, "mesk-hotspot");
        EXPECT_EQ(choice.device, c.device) << c.what;
        EXPECT_EQ(choice.error, c.error) << c.what;
    }
}

TEST(NmcliOutput, WhatTheDevicesStateSaysOfARunningHotspot) {
    using S = PublisherStatus;
    using E = PublisherError;
    const struct {
        const char* what;
        int exit_code;
        std::string out;
        bool changed;
        S status;
        E error;
    } cases[] = {
        {"still running", 0, "GENERAL.STATE:100 (connected)\nGENERAL.CONNECTION:mesk-hotspot\n", false, S::Stopped,
         E::Success},
        {"going down, still ours", 0, "GENERAL.STATE:110 (deactivating)\nGENERAL.CONNECTION:mesk-hotspot\n", false,
         S::Stopped, E::Success},
        {"a look that failed", 1, "", false, S::Stopped, E::Success},
        {"an answer not understood", 0, "nonsense", false, S::Stopped, E::Success},
        {"let go", 0, "GENERAL.STATE:30 (disconnected)\nGENERAL.CONNECTION:\n", true, S::Stopped, E::Success},
        {"radio off", 0, "GENERAL.STATE:20 (unavailable)\nGENERAL.CONNECTION:\n", true, S::Aborted,
         E::RadioNotAvailable},
        {"taken by another", 0, "GENERAL.STATE:100 (connected)\nGENERAL.CONNECTION:Home\n", true, S::Aborted,
         E::ResourceInUse},
        {"failed", 0, "GENERAL.STATE:120 (failed)\nGENERAL.CONNECTION:\n", true, S::Aborted, E::Other},
        {"unmanaged", 0, "GENERAL.STATE:10 (unmanaged)\nGENERAL.CONNECTION:\n", true, S::Aborted, E::Other},
        {"device gone", nmcli_not_found, "", true, S::Aborted, E::RadioNotAvailable},
        {"NetworkManager ended", nmcli_not_running, "", true, S::Aborted, E::Other},
    };
    for (const auto& c : cases) {
        const auto change = hotspot_change(c.exit_code, c.out, "mesk-hotspot");
        ASSERT_EQ(change.has_value(), c.changed) << c.what;
        if (!change) continue;
        EXPECT_EQ(change->status, c.status) << c.what;
        EXPECT_EQ(change->error, c.error) << c.what;
    }
}

TEST(NmcliOutput, LeasesOfTheSharedConnection) {
    const std::vector<HotspotClient> clients = parse_dnsmasq_leases(
        "1700000000 aa:bb:cc:dd:ee:01 192.168.137.23 phone 01:aa:bb:cc:dd:ee:01\n"
        "1700000100 aa:bb:cc:dd:ee:02 192.168.137.24 * *\n"
        "duid 00:01:00:01:2c:3d:4e:5f:aa:bb:cc:dd:ee:ff\n"
        "1700000200 1234 fd00::5 laptop 00:01:00:01\n"
        "short line\n"
        "1700000300 aa:bb:cc:dd:ee:03 192.168.137.25 tablet * extra\n");
    ASSERT_EQ(clients.size(), 2u);
    EXPECT_EQ(clients[0].hardware_address, "aa:bb:cc:dd:ee:01");
    EXPECT_EQ(clients[0].address, "192.168.137.23");
    EXPECT_EQ(clients[0].name, "phone");
    EXPECT_EQ(clients[1].name, "");
}

}  // namespace
}  // namespace vandrel
