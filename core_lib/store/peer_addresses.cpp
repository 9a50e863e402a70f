#include "core_lib/store/peer_addresses.h"

#include <algorithm>
#include <exception>
#include <iostream>

#include "core_lib/foundation/peer_limits.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/store_state.h"

namespace vandrel {

namespace {

peer_address_table& table() { return current_store::get().peers; }

}  // namespace

std::string get_peer_ip(const std::string& device_id) {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.entries.find(device_id);
    return it == t.entries.end() ? std::string() : it->second.address;
}

bool set_peer_ip(const std::string& device_id, const std::string& address, bool kept) {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.entries.find(device_id);
    if (it != t.entries.end()) {
        if (it->second.address == address) return false;
        it->second = {address, ++t.changes, it->second.kept || kept};
        return true;
    }
    if (t.entries.size() >= limits::known_peers) {
        // The oldest entry without chats goes first; a kept one only for another kept one.
        auto older = [](const auto& a, const auto& b) {
            return a.second.kept != b.second.kept ? !a.second.kept : a.second.set_at < b.second.set_at;
        };
        auto oldest = std::min_element(t.entries.begin(), t.entries.end(), older);
        if (oldest->second.kept && !kept) return false;
        t.entries.erase(oldest);
    }
    t.entries.emplace(device_id, peer_address_table::entry{address, ++t.changes, kept});
    return true;
}

void keep_peer_ip(const std::string& device_id) {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.entries.find(device_id);
    if (it != t.entries.end()) it->second.kept = true;
}

bool forget_peer_ip(const std::string& device_id) {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.entries.erase(device_id) != 0;
}

std::vector<std::string> peers_at_address(const std::string& address) {
    const std::string own_id = get_userid();
    std::vector<std::string> ids;
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& [id, held] : t.entries) {
        if (held.address == address && id != own_id) ids.push_back(id);
    }
    return ids;
}

std::map<std::string, std::string> peer_ip_snapshot() {
    std::map<std::string, std::string> copy;
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& [id, held] : t.entries) copy.emplace(id, held.address);
    return copy;
}

void clear_peer_ips() {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.entries.clear();
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
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    for (const auto& [id, held] : t.entries) {
        if (id != own_id) ids.push_back(id);
    }
    return ids;
}

std::vector<std::string> transfer_peer_ids() {
    std::vector<std::string> ids = seen_peer_ids();
    std::string own_id;
    try {
        own_id = get_userid();
    } catch (const std::exception& e) {
        std::cerr << "transfer_peer_ids: no device id: " << e.what() << "\n";
        return ids;
    }
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    if (t.entries.count(own_id) != 0) ids.push_back(own_id);
    return ids;
}

}  // namespace vandrel
