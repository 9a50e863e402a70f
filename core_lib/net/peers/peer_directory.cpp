#include "core_lib/net/peers/peer_directory.h"

#include <exception>
#include <iostream>

#include "core_lib/foundation/json.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/net/peers/peer_address.h"
#include "core_lib/net/peers/peer_avatar.h"
#include "core_lib/net/peers/self_calls.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/service_flags.h"

namespace vandrel {

namespace {

void post_peers_updated() { send_to_ui(Json(Json::object{{"action", "peers_updated"}}).dump()); }

}  // namespace

bool peer_seen(const std::string& device_id, const std::string& address) {
    const std::string normal = normalize_peer_address(address);
    if (device_id.empty() || normal.empty()) return false;
    const std::string held = get_peer_ip(device_id);
    if (held == normal) return true;
    // A peer this device has chats with is never pushed out of the table by newcomers.
    bool kept = false;
    try {
        kept = db_device_has_history(device_id);
    } catch (const std::exception& e) {
        std::cerr << "peer_seen: cannot read the history of " << device_id << ": " << e.what() << "\n";
    }
    if (!set_peer_ip(device_id, normal, kept)) return get_peer_ip(device_id) == normal;
    // After the map step, outside its lock: each effect on its own, so that one
    // failing leaves the others.
    try {
        db_touch_device(device_id);
    } catch (const std::exception& e) {
        std::cerr << "peer_seen: cannot touch device " << device_id << ": " << e.what() << "\n";
    }
    post_peers_updated();
    if (held.empty()) {
        trigger_resend_for_newcomer();
    } else {
        trigger_resend();
    }
    // Files of this peer that wait in the queue are fetched now, not at the next idle look.
    set_downloads_pending(true);
    // This device as its own peer (the self test) has no picture to fetch.
    if (!is_own_device(device_id)) request_peer_avatar(device_id, normal);
    return true;
}

void notify_peers_updated(const std::string& device_id) {
    forget_peer_ip(device_id);
    post_peers_updated();
}

void notify_peers_reset() {
    clear_peer_ips();
    post_peers_updated();
}

}  // namespace vandrel
