// Local addresses, directed broadcast addresses and the connected Wi-Fi network, worked
// out from plain lists of interfaces and wireless links. The lists come from the system
// (getifaddrs, wireless ioctls) in production and are injected in tests.
// Accepted interfaces: up, not loopback, wired or wireless alike (peers on the same LAN
// are reached over either; test networks are wired).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vandrel {

enum class AddressFamily { ipv4, ipv6 };

struct NetworkInterface {
    std::string name;
    AddressFamily family = AddressFamily::ipv4;
    std::array<std::uint8_t, 16> address{};  // network order; IPv4 uses the first four
    int prefix_length = 0;
    bool is_wireless = false;
    bool is_up = false;
    bool is_loopback = false;
};

struct WirelessLink {
    std::string interface_name;
    std::string ssid;                 // "" when not associated
    std::vector<std::uint8_t> bssid;  // empty when not associated
};

// An interface from an address text (inet_pton); the address stays zero when it does not parse.
NetworkInterface make_interface(const std::string& name, const std::string& address, int prefix_length,
                                bool is_wireless, bool is_up = true, bool is_loopback = false);

std::string address_text(const NetworkInterface& item);
bool is_accepted_interface(const NetworkInterface& item);

// IPv4 addresses of accepted interfaces, in list order.
std::vector<std::string> local_ips_of(const std::vector<NetworkInterface>& interfaces);
// "ADDRESS/PREFIX" of every accepted interface, IPv4 and IPv6, in list order; an
// address without a prefix stands for itself alone (/32, /128).
std::vector<std::string> local_networks_of(const std::vector<NetworkInterface>& interfaces);
// One directed broadcast address per accepted IPv4 interface with a prefix of 2 to 32,
// in list order, duplicates kept.
std::vector<std::string> broadcast_addresses_of(const std::vector<NetworkInterface>& interfaces);

// The address with every bit after the prefix set, dotted. "" for a prefix outside
// 2..32 or a text that is not four decimal numbers of 0..255.
std::string broadcast_address_of(const std::string& address, int prefix);
std::string broadcast_address_of(std::uint32_t address, int prefix);  // host byte order

// The first non-empty SSID; "" when none.
std::string wifi_ssid_of(const std::vector<WirelessLink>& links);
// The last non-empty BSSID as upper-case hexadecimal without separators; "" when none.
std::string wifi_bssid_of(const std::vector<WirelessLink>& links);
std::string upper_hex(const std::vector<std::uint8_t>& bytes);

// From the running system.
std::vector<NetworkInterface> system_network_interfaces();
std::vector<WirelessLink> system_wireless_links();

struct NetworkSources {
    std::function<std::vector<NetworkInterface>()> interfaces = system_network_interfaces;
    std::function<std::vector<WirelessLink>()> wireless_links = system_wireless_links;
};

}  // namespace vandrel
