// What NetworkManager's command-line client prints, read, and what it means for a
// hotspot: its terse lines, the device list, a Wi-Fi device's access-point property, a
// device's state, and the leases that the DHCP server of its shared connections
// (dnsmasq) keeps. Pure functions over texts.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "MeskRuntimeComponent/hotspot.h"

namespace vandrel {

// nmcli's exit codes that mean more than a failure.
inline constexpr int nmcli_not_running = 8;
inline constexpr int nmcli_not_found = 10;

// Device states as numbers (GENERAL.STATE).
inline constexpr int nm_state_unmanaged = 10;
inline constexpr int nm_state_unavailable = 20;
inline constexpr int nm_state_failed = 120;

struct NmDevice {
    std::string name;
    std::string type;           // "wifi", "ethernet", ...
    std::string state;          // "disconnected", "connected", "unavailable", "connecting (prepare)", ...
    std::string connection;     // the active connection's name, "" for none
    bool access_point = false;  // from the device's own WIFI-PROPERTIES.AP
};

// The fields of one line of `nmcli -t`: split at ":" and with "\:" and "\\" read as ":"
// and "\".
std::vector<std::string> split_terse_line(const std::string& line);

// `nmcli -t -f DEVICE,TYPE,STATE,CONNECTION device status`; access_point stays false.
std::vector<NmDevice> parse_device_status(const std::string& out);

// `nmcli -t -f WIFI-PROPERTIES.AP device show DEVICE`: whether it says "yes".
bool parse_access_point_property(const std::string& out);

struct NmDeviceState {
    int code = 0;            // 0 when unreadable
    std::string connection;  // "" for none
};
// `nmcli -t -f GENERAL.STATE,GENERAL.CONNECTION device show DEVICE`.
NmDeviceState parse_device_state(const std::string& out);

// A device of the list that NetworkManager may put in access-point mode: Wi-Fi, able
// to act as an access point, and managed. Its radio may be off.
bool may_host_hotspot(const NmDevice& device);

struct HotspotDeviceChoice {
    std::string device;  // "" when none may be used; then error says why
    PublisherError error = PublisherError::Success;
};
// The device to start a hotspot on: the one running `own_connection`, else a free one
// (disconnected). A device connected elsewhere is never taken from its network: when all
// are, ResourceInUse; when all have their radio off, RadioNotAvailable; with none, Other.
HotspotDeviceChoice choose_hotspot_device(const std::vector<NmDevice>& devices, const std::string& own_connection);

struct HotspotChange {
    PublisherStatus status = PublisherStatus::Stopped;
    PublisherError error = PublisherError::Success;
};
// What a look at the device's state (the exit code and output of that `device show`)
// says of a hotspot running `own_connection` on it: nothing while the connection is
// still the device's (or the look failed for a moment); else stopped when the device
// merely let it go, aborted when its radio went off, the device went, another
// connection took it, it failed, or NetworkManager ended.
std::optional<HotspotChange> hotspot_change(int exit_code, const std::string& out, const std::string& own_connection);

// The leases file of a shared connection's DHCP server: "EXPIRY MAC IP NAME CLIENT-ID"
// per line ("*" for no name); other lines (IPv6 ones among them) are passed over.
std::vector<HotspotClient> parse_dnsmasq_leases(const std::string& text);

}  // namespace vandrel
