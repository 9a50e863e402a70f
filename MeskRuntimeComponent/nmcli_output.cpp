#include "MeskRuntimeComponent/nmcli_output.h"

#include <cstdlib>
#include <sstream>

#include "core_lib/foundation/text_utils.h"

namespace vandrel {

namespace {

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines.push_back(line);
    }
    return lines;
}

// nmcli writes "--" for a value that is not set when it does not write "".
std::string value_or_none(std::string value) { return value == "--" ? std::string() : value; }

// The value after "KEY:" in a terse `device show` output; "" when the key is missing.
std::string terse_value(const std::string& out, const std::string& key) {
    for (const auto& line : lines_of(out)) {
        if (starts_with(line, key + ":")) return value_or_none(line.substr(key.size() + 1));
    }
    return {};
}

bool is_free(const NmDevice& device) { return device.state == "disconnected"; }
bool radio_off(const NmDevice& device) { return device.state == "unavailable"; }

}  // namespace

std::vector<std::string> split_terse_line(const std::string& line) {
    std::vector<std::string> fields(1);
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '\\' && i + 1 < line.size() && (line[i + 1] == ':' || line[i + 1] == '\\')) {
            fields.back().push_back(line[++i]);
        } else if (c == ':') {
            fields.emplace_back();
        } else {
            fields.back().push_back(c);
        }
    }
    return fields;
}

std::vector<NmDevice> parse_device_status(const std::string& out) {
    std::vector<NmDevice> devices;
    for (const auto& line : lines_of(out)) {
        std::vector<std::string> fields = split_terse_line(line);
        if (fields.size() != 4 || fields[0].empty()) continue;
        devices.push_back({fields[0], fields[1], fields[2], value_or_none(fields[3]), false});
    }
    return devices;
}

bool parse_access_point_property(const std::string& out) { return terse_value(out, "WIFI-PROPERTIES.AP") == "yes"; }

NmDeviceState parse_device_state(const std::string& out) {
    NmDeviceState state;
    // "100 (connected)"
    state.code = std::atoi(terse_value(out, "GENERAL.STATE").c_str());
    state.connection = terse_value(out, "GENERAL.CONNECTION");
    return state;
}

bool may_host_hotspot(const NmDevice& device) {
    return device.type == "wifi" && device.access_point && device.state != "unmanaged";
}

HotspotDeviceChoice choose_hotspot_device(const std::vector<NmDevice>& devices, const std::string& own_connection) {
    const NmDevice* free_device = nullptr;
    bool any = false;
    bool all_radio_off = true;
    for (const auto& device : devices) {
        if (!may_host_hotspot(device)) continue;
        any = true;
        if (!own_connection.empty() && device.connection == own_connection)
            return {device.name, PublisherError::Success};
        if (!free_device && is_free(device)) free_device = &device;
        if (!radio_off(device)) all_radio_off = false;
    }
    if (free_device) return {free_device->name, PublisherError::Success};
    if (!any) return {"", PublisherError::Other};
    return {"", all_radio_off ? PublisherError::RadioNotAvailable : PublisherError::ResourceInUse};
}

std::optional<HotspotChange> hotspot_change(int exit_code, const std::string& out, const std::string& own_connection) {
    if (exit_code == nmcli_not_running) return HotspotChange{PublisherStatus::Aborted, PublisherError::Other};
    if (exit_code == nmcli_not_found) {
        return HotspotChange{PublisherStatus::Aborted, PublisherError::RadioNotAvailable};
    }
    if (exit_code != 0) return std::nullopt;
    const NmDeviceState state = parse_device_state(out);
    if (state.code == 0 || state.connection == own_connection) return std::nullopt;
    if (state.code == nm_state_unavailable) {
        return HotspotChange{PublisherStatus::Aborted, PublisherError::RadioNotAvailable};
    }
    if (state.code == nm_state_unmanaged || state.code == nm_state_failed) {
        return HotspotChange{PublisherStatus::Aborted, PublisherError::Other};
    }
    if (!state.connection.empty()) return HotspotChange{PublisherStatus::Aborted, PublisherError::ResourceInUse};
    return HotspotChange{PublisherStatus::Stopped, PublisherError::Success};
}

std::vector<HotspotClient> parse_dnsmasq_leases(const std::string& text) {
    std::vector<HotspotClient> clients;
    for (const auto& line : lines_of(text)) {
        std::istringstream fields(line);
        std::string expiry, hardware, address, name, client_id, extra;
        if (!(fields >> expiry >> hardware >> address >> name >> client_id) || (fields >> extra)) continue;
        if (expiry == "duid" || hardware.find(':') == std::string::npos) continue;
        clients.push_back({hardware, address, name == "*" ? std::string() : name});
    }
    return clients;
}

}  // namespace vandrel
