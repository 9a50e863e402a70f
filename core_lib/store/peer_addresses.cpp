#include "core_lib/store/peer_addresses.h"

#include <exception>
#include <iostream>

#include "core_lib/store/settings.h"
#include "core_lib/store/store_state.h"

namespace vandrel {

namespace {

peer_address_table& table() { return current_store::get().peers; }

}  // namespace

std::string get_peer_ip(const std::string& device_id) {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto it = t.addresses.find(device_id);
    return it == t.addresses.end() ? std::string() : it->second;
}

bool set_peer_ip(const std::string& device_id, const std::string& address) {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto [it, inserted] = t.addresses.try_emplace(device_id, address);
    if (inserted) return true;
    if (it->second == address) return false;
    it->second = address;
    return true;
}

bool forget_peer_ip(const std::string& device_id) {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.addresses.erase(device_id) != 0;
}

std::map<std::string, std::string> peer_ip_snapshot() {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    return t.addresses;
}

void clear_peer_ips() {
    peer_address_table& t = table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.addresses.clear();
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
    for (const auto& [id, address] : t.addresses) {
        if (id != own_id) ids.push_back(id);
    }
    return ids;
}

}  // namespace vandrel
