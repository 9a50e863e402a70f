#include "MeskRuntimeComponent/network_info.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

TEST(BroadcastAddress, FromAddressTextAndPrefix) {
    struct Case {
        std::string address;
        int prefix;
        std::string expected;
    };
    const Case cases[] = {
        {"192.168.1.37", 24, "192.168.1.255"},
        {"192.168.1.37", 16, "192.168.255.255"},
        {"10.1.20.5", 20, "10.1.31.255"},
        {"10.1.20.5", 8, "10.255.255.255"},
        {"172.16.5.4", 2, "191.255.255.255"},
        {"192.168.1.37", 32, "192.168.1.37"},
        {"192.168.1.37", 31, "192.168.1.37"},
        {"192.168.1.36", 31, "192.168.1.37"},
        {"192.168.1.37", 1, ""},
        {"192.168.1.37", 0, ""},
        {"192.168.1.37", -4, ""},
        {"192.168.1.37", 33, ""},
        {"192.168.1", 24, ""},
        {"192.168.1.37.5", 24, ""},
        {"", 24, ""},
        {"::ffff:10.1.2.3", 24, ""},
        {"fe80::1.2.3.4", 24, ""},  // four dotted parts that are not all numbers
        {"192.168.1.x", 24, ""},
        {"192.168.1.-1", 24, ""},
        {"192.168.1.256", 24, ""},
        {"192.168.1.", 24, ""},
        {"192.168.1.0037", 24, ""},
        {"192.168. 1.37", 24, ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(broadcast_address_of(c.address, c.prefix), c.expected) << c.address << "/" << c.prefix;
}

TEST(NetworkInfo, WiredAndWirelessInterfacesBothCountAndLoopbackOrDownDoNot) {
    const std::vector<NetworkInterface> interfaces = {
        make_interface("lo", "127.0.0.1", 8, false, true, true),
        make_interface("eth0", "192.168.1.37", 24, false),
        make_interface("eth0", "fe80::1", 64, false),
        make_interface("wlan0", "10.1.20.5", 20, true),
        make_interface("wlan0", "10.1.99.7", 20, true),          // a second address on one interface
        make_interface("eth1", "172.16.0.9", 16, false, false),  // down
        make_interface("tun0", "100.64.0.2", 0, false),          // no prefix: an address, no broadcast
    };
    EXPECT_EQ(local_ips_of(interfaces),
              (std::vector<std::string>{"192.168.1.37", "10.1.20.5", "10.1.99.7", "100.64.0.2"}));
    // Two addresses on one network give the same broadcast address twice.
    EXPECT_EQ(broadcast_addresses_of(interfaces),
              (std::vector<std::string>{"192.168.1.255", "10.1.31.255", "10.1.111.255"}));
    // The networks announces may come from: every accepted address with its prefix.
    EXPECT_EQ(local_networks_of(interfaces), (std::vector<std::string>{"192.168.1.37/24", "fe80::1/64", "10.1.20.5/20",
                                                                       "10.1.99.7/20", "100.64.0.2/32"}));
}

TEST(NetworkInfo, OnlyLoopbackMeansNoAddresses) {
    const std::vector<NetworkInterface> interfaces = {make_interface("lo", "127.0.0.1", 8, false, true, true),
                                                      make_interface("lo", "::1", 128, false, true, true)};
    EXPECT_TRUE(local_ips_of(interfaces).empty());
    EXPECT_TRUE(broadcast_addresses_of(interfaces).empty());
    EXPECT_TRUE(local_networks_of(interfaces).empty());
    EXPECT_TRUE(local_ips_of({}).empty());
}

TEST(NetworkInfo, WifiNameIsTheFirstAndBssidTheLastOfTheAssociatedLinks) {
    const std::vector<WirelessLink> links = {
        {"wlan0", "", {}},
        {"wlan1", "Home Net", {0x00, 0x1A, 0xFF, 0x10, 0xab, 0x09}},
        {"wlan2", "Other", {0xDE, 0xAD, 0xBE, 0xEF, 0x00, 0x01}},
    };
    EXPECT_EQ(wifi_ssid_of(links), "Home Net");
    EXPECT_EQ(wifi_bssid_of(links), "DEADBEEF0001");
    EXPECT_EQ(upper_hex({0x00, 0x1A, 0xFF}), "001AFF");
    EXPECT_EQ(wifi_ssid_of({}), "");
    EXPECT_EQ(wifi_bssid_of({{"wlan0", "", {}}}), "");
}

TEST(NetworkInfo, TheSystemSourcesAnswerWithoutFailing) {
    // Whatever this machine has: the calls must not fail, and loopback never counts.
    for (const auto& ip : local_ips_of(system_network_interfaces())) EXPECT_NE(ip.rfind("127.", 0), 0u) << ip;
    for (const auto& link : system_wireless_links()) EXPECT_FALSE(link.interface_name.empty());
}

}  // namespace
}  // namespace vandrel
