#include "core_lib/net/discovery/network_watch.h"

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/run_logged.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/platform/hotspot_service.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/service_flags.h"

namespace vandrel {

namespace {

constexpr std::int64_t check_period_ms = 5000;
constexpr std::int64_t forced_reset_ms = 1800000;

void tell_device_updated() { send_to_ui(Json(Json::object{{"action", "device_updated"}}).dump()); }

}  // namespace

void check_network_change(network_watch_state& state, std::int64_t now) {
    const std::vector<std::string> addresses = get_broadcast_addresses();
    const std::string key = get_wifi_ssid() + get_wifi_bssid() + get_hotspot_ssid();
    bool changed = false;
    if (addresses != state.saved_broadcast_addresses) {
        state.saved_broadcast_addresses = addresses;
        changed = true;
    }
    if (key != state.saved_network_key) {
        tell_device_updated();
        state.saved_network_key = key;
        changed = true;
    }
    if (!changed && now - state.last_network_change_ms <= forced_reset_ms) return;
    if (state.first_network_check) {
        state.first_network_check = false;
    } else {
        notify_peers_reset();
    }
    state.last_network_change_ms = now;
    peer_refresh_flag() = true;
    discovery_flag() = true;
    lan_announce_flag() = true;
}

void send_device_updated(network_watch_state& state) {
    const bool running = is_hotspot_started();
    if (running == state.hotspot_was_running) return;
    state.hotspot_was_running = running;
    tell_device_updated();
}

void network_watch_loop() {
    net_state& running = current_net::get();
    network_watch_state state;
    while (!core_stopping()) {
        const std::int64_t started = now_ms();
        // A failing platform call ends this look, not the watch: the next comes at its time.
        run_logged("network watch", [&state, started] {
            check_network_change(state, started);
            if (!core_stopping()) send_device_updated(state);
        });
        const std::int64_t left = started + check_period_ms - now_ms();
        if (left > 0 && !running.threads.sleep_for(std::chrono::milliseconds(left))) return;
    }
}

}  // namespace vandrel
