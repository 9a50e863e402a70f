// The network watch: every 5 s it compares this device's broadcast addresses and its
// network key (Wi-Fi name, access point, hotspot name). On a change, and at least every
// 30 minutes, it forgets every peer address (not at the first check after start),
// tells the interface and raises the refresh, discovery and announce flags; a new
// network key and a change of the hotspot's state also redraw the device view.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vandrel {

struct network_watch_state {
    std::vector<std::string> saved_broadcast_addresses;
    std::string saved_network_key;
    std::int64_t last_network_change_ms = 0;
    bool first_network_check = true;
    bool hotspot_was_running = false;
};

// Thread body, until the core stops.
void network_watch_loop();

// One comparison at `now` and its consequences.
void check_network_change(network_watch_state& state, std::int64_t now);
// Tells the interface when the hotspot's state changed.
void send_device_updated(network_watch_state& state);

}  // namespace vandrel
