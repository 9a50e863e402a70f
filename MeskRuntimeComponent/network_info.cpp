#include "MeskRuntimeComponent/network_info.h"

#include <algorithm>
#include <cstring>
#include <set>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

// net/if.h before linux/wireless.h, which would otherwise define the same structures.
#include <net/if.h>

#include <linux/wireless.h>

#include "core_lib/foundation/text_utils.h"

namespace vandrel {

namespace {

std::uint32_t ipv4_of(const NetworkInterface& item) {
    return (std::uint32_t(item.address[0]) << 24) | (std::uint32_t(item.address[1]) << 16) |
           (std::uint32_t(item.address[2]) << 8) | std::uint32_t(item.address[3]);
}

// A decimal number of one to three digits, at most 255; -1 otherwise.
int octet_of(const std::string& part) {
    if (part.empty() || part.size() > 3) return -1;
    int value = 0;
    for (const char c : part) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value <= 255 ? value : -1;
}

int prefix_of_mask(const sockaddr* mask) {
    if (!mask) return 0;
    const std::uint8_t* bytes = nullptr;
    std::size_t size = 0;
    if (mask->sa_family == AF_INET) {
        bytes = reinterpret_cast<const std::uint8_t*>(&reinterpret_cast<const sockaddr_in*>(mask)->sin_addr);
        size = 4;
    } else if (mask->sa_family == AF_INET6) {
        bytes = reinterpret_cast<const std::uint8_t*>(&reinterpret_cast<const sockaddr_in6*>(mask)->sin6_addr);
        size = 16;
    }
    int prefix = 0;
    for (std::size_t i = 0; i < size; ++i) prefix += __builtin_popcount(bytes[i]);
    return prefix;
}

// Owns one socket.
class Socket {
public:
    Socket() : fd_(socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

bool is_wireless_interface(int fd, const std::string& name) {
    struct stat info {};
    if (stat(("/sys/class/net/" + name + "/wireless").c_str(), &info) == 0) return true;
    if (fd < 0) return false;
    iwreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IFNAMSIZ - 1);
    return ioctl(fd, SIOCGIWNAME, &request) == 0;
}

}  // namespace

NetworkInterface make_interface(const std::string& name, const std::string& address, int prefix_length,
                                bool is_wireless, bool is_up, bool is_loopback) {
    NetworkInterface item;
    item.name = name;
    item.family = address.find(':') != std::string::npos ? AddressFamily::ipv6 : AddressFamily::ipv4;
    inet_pton(item.family == AddressFamily::ipv4 ? AF_INET : AF_INET6, address.c_str(), item.address.data());
    item.prefix_length = prefix_length;
    item.is_wireless = is_wireless;
    item.is_up = is_up;
    item.is_loopback = is_loopback;
    return item;
}

std::string address_text(const NetworkInterface& item) {
    char text[INET6_ADDRSTRLEN] = {};
    const int family = item.family == AddressFamily::ipv4 ? AF_INET : AF_INET6;
    if (!inet_ntop(family, item.address.data(), text, sizeof text)) return {};
    return text;
}

bool is_accepted_interface(const NetworkInterface& item) { return item.is_up && !item.is_loopback; }

std::vector<std::string> local_ips_of(const std::vector<NetworkInterface>& interfaces) {
    std::vector<std::string> ips;
    for (const auto& item : interfaces)
        if (is_accepted_interface(item) && item.family == AddressFamily::ipv4) ips.push_back(address_text(item));
    return ips;
}

std::vector<std::string> local_networks_of(const std::vector<NetworkInterface>& interfaces) {
    std::vector<std::string> networks;
    for (const auto& item : interfaces) {
        if (!is_accepted_interface(item)) continue;
        // No prefix known: the address alone, never every address.
        const int full = item.family == AddressFamily::ipv4 ? 32 : 128;
        const int prefix = item.prefix_length > 0 ? item.prefix_length : full;
        networks.push_back(address_text(item) + "/" + std::to_string(prefix));
    }
    return networks;
}

std::vector<std::string> broadcast_addresses_of(const std::vector<NetworkInterface>& interfaces) {
    std::vector<std::string> addresses;
    for (const auto& item : interfaces) {
        if (!is_accepted_interface(item) || item.family != AddressFamily::ipv4) continue;
        std::string broadcast = broadcast_address_of(ipv4_of(item), item.prefix_length);
        if (!broadcast.empty()) addresses.push_back(std::move(broadcast));
    }
    return addresses;
}

std::string broadcast_address_of(std::uint32_t address, int prefix) {
    if (prefix < 2 || prefix > 32) return {};
    const std::uint32_t host_bits = prefix == 32 ? 0 : (0xFFFFFFFFu >> prefix);
    const std::uint32_t broadcast = address | host_bits;
    std::vector<std::string> octets;
    for (int shift = 24; shift >= 0; shift -= 8) octets.push_back(std::to_string((broadcast >> shift) & 0xFF));
    return join_strings(octets, ".");
}

std::string broadcast_address_of(const std::string& address, int prefix) {
    const auto parts = split(address, ".");
    if (parts.size() != 4) return {};
    std::uint32_t value = 0;
    for (const auto& part : parts) {
        const int octet = octet_of(part);
        if (octet < 0) return {};
        value = (value << 8) | static_cast<std::uint32_t>(octet);
    }
    return broadcast_address_of(value, prefix);
}

std::string upper_hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const auto byte : bytes) {
        text += digits[byte >> 4];
        text += digits[byte & 0x0F];
    }
    return text;
}

std::string wifi_ssid_of(const std::vector<WirelessLink>& links) {
    for (const auto& link : links)
        if (!link.ssid.empty()) return link.ssid;
    return {};
}

std::string wifi_bssid_of(const std::vector<WirelessLink>& links) {
    std::string result;
    for (const auto& link : links)
        if (!link.bssid.empty()) result = upper_hex(link.bssid);
    return result;
}

std::vector<NetworkInterface> system_network_interfaces() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::vector<NetworkInterface> interfaces;
    Socket probe;
    for (const ifaddrs* entry = list; entry; entry = entry->ifa_next) {
        if (!entry->ifa_addr || !entry->ifa_name) continue;
        const int family = entry->ifa_addr->sa_family;
        if (family != AF_INET && family != AF_INET6) continue;
        NetworkInterface item;
        item.name = entry->ifa_name;
        if (family == AF_INET) {
            item.family = AddressFamily::ipv4;
            std::memcpy(item.address.data(), &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, 4);
        } else {
            item.family = AddressFamily::ipv6;
            std::memcpy(item.address.data(), &reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr)->sin6_addr, 16);
        }
        item.prefix_length = prefix_of_mask(entry->ifa_netmask);
        item.is_up = (entry->ifa_flags & IFF_UP) && (entry->ifa_flags & IFF_RUNNING);
        item.is_loopback = entry->ifa_flags & IFF_LOOPBACK;
        item.is_wireless = !item.is_loopback && is_wireless_interface(probe.get(), item.name);
        interfaces.push_back(std::move(item));
    }
    freeifaddrs(list);
    return interfaces;
}

std::vector<WirelessLink> system_wireless_links() {
    Socket probe;
    if (probe.get() < 0) return {};
    std::set<std::string> seen;
    std::vector<WirelessLink> links;
    for (const auto& item : system_network_interfaces()) {
        if (!item.is_wireless || !seen.insert(item.name).second) continue;
        WirelessLink link;
        link.interface_name = item.name;

        char essid[IW_ESSID_MAX_SIZE + 1] = {};
        iwreq request{};
        std::strncpy(request.ifr_name, item.name.c_str(), IFNAMSIZ - 1);
        request.u.essid.pointer = essid;
        request.u.essid.length = IW_ESSID_MAX_SIZE;
        if (ioctl(probe.get(), SIOCGIWESSID, &request) == 0)
            link.ssid.assign(essid, std::min<std::size_t>(request.u.essid.length, IW_ESSID_MAX_SIZE));

        iwreq ap{};
        std::strncpy(ap.ifr_name, item.name.c_str(), IFNAMSIZ - 1);
        if (ioctl(probe.get(), SIOCGIWAP, &ap) == 0) {
            const auto* bytes = reinterpret_cast<const std::uint8_t*>(ap.u.ap_addr.sa_data);
            std::vector<std::uint8_t> bssid(bytes, bytes + 6);
            bool any = false;
            for (const auto byte : bssid) any = any || byte != 0;
            if (any) link.bssid = std::move(bssid);
        }
        links.push_back(std::move(link));
    }
    return links;
}

}  // namespace vandrel
