#include "core_lib/net/peer_directory.h"

#include <exception>
#include <iostream>
#include <mutex>

#include "MeskRuntimeComponent/ui_event_channel.h"
#include "core_lib/foundation/json.h"
#include "core_lib/net/peer_address.h"
#include "core_lib/net/peer_avatar.h"
#include "core_lib/net/resend_queue.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

std::mutex peer_map_mutex;
std::map<std::string, std::string> peer_map;

void post_peers_updated() { send_to_ui(Json(Json::object{{"action", "peers_updated"}}).dump()); }

}  // namespace

std::string get_peer_ip(const std::string& device_id) {
    std::lock_guard<std::mutex> lock(peer_map_mutex);
    auto it = peer_map.find(device_id);
    return it == peer_map.end() ? std::string() : it->second;
}

bool set_peer_ip(const std::string& device_id, const std::string& address) {
    std::lock_guard<std::mutex> lock(peer_map_mutex);
    auto [it, inserted] = peer_map.try_emplace(device_id, address);
    if (inserted) return true;
    if (it->second == address) return false;
    it->second = address;
    return true;
}

std::map<std::string, std::string> peer_ip_snapshot() {
    std::lock_guard<std::mutex> lock(peer_map_mutex);
    return peer_map;
}

void clear_peer_ips() {
    std::lock_guard<std::mutex> lock(peer_map_mutex);
    peer_map.clear();
}

void peer_seen(const std::string& device_id, const std::string& address) {
    const std::string normal = normalize_peer_address(address);
    if (device_id.empty() || normal.empty()) return;
    if (!set_peer_ip(device_id, normal)) return;
    // After the map step, outside its lock: each effect on its own, so that one
    // failing leaves the others.
    try {
        db_touch_device(device_id);
    } catch (const std::exception& e) {
        std::cerr << "peer_seen: cannot touch device " << device_id << ": " << e.what() << "\n";
    }
    post_peers_updated();
    trigger_resend();
    request_peer_avatar(device_id, normal);
}

void notify_peers_updated(const std::string& device_id) {
    {
        std::lock_guard<std::mutex> lock(peer_map_mutex);
        peer_map.erase(device_id);
    }
    post_peers_updated();
}

void notify_peers_reset() {
    clear_peer_ips();
    post_peers_updated();
}

std::vector<std::string> seen_peer_ids() {
    std::string own_id;
    try {
        own_id = get_userid();
    } catch (const std::exception& e) {
        // Without the own id nothing can be told apart; better no peers than ourselves.
        std::cerr << "seen_peer_ids: no device id: " << e.what() << "\n";
        return {};
    }
    std::vector<std::string> ids;
    std::lock_guard<std::mutex> lock(peer_map_mutex);
    for (const auto& [id, address] : peer_map) {
        if (id != own_id) ids.push_back(id);
    }
    return ids;
}

}  // namespace vandrel
