#include "core_lib/net/peers/peer_address.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

TEST(PeerAddress, NormalFormOfIpLiterals) {
    const std::pair<std::string, std::string> cases[] = {
        {"192.168.1.5", "192.168.1.5"},
        {"::ffff:192.168.1.5", "192.168.1.5"},  // IPv4 on a dual-stack socket
        {"::FFFF:192.168.1.5", "192.168.1.5"},
        {"::ffff:c0a8:0105", "192.168.1.5"},  // the same, in hex
        {"fe80::1%3", "[fe80::1]"},
        {"FE80::1%eth0", "[fe80::1]"},
        {"[fe80::1]", "[fe80::1]"},
        {"[fe80::1%3]", "[fe80::1]"},
        {"fe80:0:0:0:0:0:0:1", "[fe80::1]"},  // one spelling for one address
        {"::1", "[::1]"},
        {"2001:DB8::A", "[2001:db8::a]"},
        {"127.0.0.1", "127.0.0.1"},
        {"[1.2.3.4]", "1.2.3.4"},
    };
    for (const auto& [input, expected] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(normalize_peer_address(input), expected);
        EXPECT_TRUE(is_peer_address(expected));
    }
}

TEST(PeerAddress, TextsThatAreNotAddresses) {
    const std::string cases[] = {
        "",
        "from_ui",
        "test",
        "localhost",
        "peer.lan",
        "1.2.3",
        "1.2.3.4.5",
        "256.1.1.1",
        "01.2.3.4",
        "1.2.3.4:45001",
        "[::1]:45001",
        "fe80::1::2",
        "[fe80::1",
        "::ffff:",
        "%3",
        " 1.2.3.4",
        std::string("1.2.3.4\0x", 9),
        "1.2.3.4/24",
        "gggg::1",
    };
    for (const auto& input : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(normalize_peer_address(input), "");
        EXPECT_FALSE(is_peer_address(input));
    }
}

TEST(PeerAddress, OnlyTheNormalFormCountsAsAPeerAddress) {
    for (const std::string input : {"::ffff:1.2.3.4", "fe80::1", "[FE80::1]", "[fe80::1%3]", "[1.2.3.4]"}) {
        SCOPED_TRACE(input);
        EXPECT_FALSE(is_peer_address(input));
        EXPECT_TRUE(is_peer_address(normalize_peer_address(input)));
    }
}

TEST(PeerAddress, FromSocketAddresses) {
    namespace ip = boost::asio::ip;
    EXPECT_EQ(peer_address_text(ip::make_address("::ffff:10.0.0.5")), "10.0.0.5");
    EXPECT_EQ(peer_address_text(ip::make_address("10.0.0.5")), "10.0.0.5");
    ip::address_v6 scoped = ip::make_address_v6("fe80::1");
    scoped.scope_id(3);
    EXPECT_EQ(peer_address_text(scoped), "[fe80::1]");
}

TEST(PeerAddress, LimitsCountIPv4AloneAndIPv6ByItsSlash64) {
    const std::pair<std::string, std::string> cases[] = {
        {"10.0.0.5", "10.0.0.5"},
        {"::ffff:10.0.0.5", "10.0.0.5"},
        {"[fe80::1%3]", "[fe80::]/64"},
        {"fe80::abcd:1:2:3", "[fe80::]/64"},
        {"2001:db8:1:2:aaaa::1", "[2001:db8:1:2::]/64"},
        {"[2001:DB8:1:2:ffff:ffff:ffff:ffff]", "[2001:db8:1:2::]/64"},
        {"2001:db8:1:3::1", "[2001:db8:1:3::]/64"},
        {"from_ui", ""},
        {"", ""},
    };
    for (const auto& [input, group] : cases) {
        SCOPED_TRACE(input);
        EXPECT_EQ(address_group(input), group);
    }
}

TEST(PeerAddress, WhetherAnAddressLiesInANetwork) {
    const struct {
        const char* address;
        const char* network;
        bool inside;
    } cases[] = {
        {"192.168.5.7", "192.168.5.1/24", true},
        {"192.168.6.7", "192.168.5.1/24", false},
        {"::ffff:192.168.5.7", "192.168.5.1/24", true},
        {"10.1.2.3", "10.0.0.1/8", true},
        {"11.1.2.3", "10.0.0.1/8", false},
        {"10.0.0.1", "10.0.0.1/32", true},
        {"10.0.0.2", "10.0.0.1/32", false},
        {"172.16.0.9", "172.16.0.1/0", true},
        {"[2001:db8:1:2::9]", "2001:db8:1:2::1/64", true},
        {"2001:db8:1:3::9", "2001:db8:1:2::1/64", false},
        {"192.168.5.7", "2001:db8:1:2::1/64", false},
        {"192.168.5.7", "192.168.5.1/33", false},
        {"192.168.5.7", "192.168.5.1", false},
        {"192.168.5.7", "192.168.5.1/", false},
        {"192.168.5.7", "192.168.5.1/2x", false},
        {"from_ui", "192.168.5.1/24", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.address) + " in " + c.network);
        EXPECT_EQ(address_in_network(c.address, c.network), c.inside);
    }
}

}  // namespace
}  // namespace vandrel
