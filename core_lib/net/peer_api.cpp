#include "core_lib/net/peer_api.h"

#include <exception>
#include <iostream>

#include "core_lib/net/https_client.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peer_address.h"
#include "core_lib/net/peer_directory.h"
#include "core_lib/store/devices.h"

namespace vandrel {

namespace {

std::string stored_address(const std::string& device_id) {
    try {
        return db_get_device_last_ip(device_id);
    } catch (const std::exception& e) {
        std::cerr << "post_to_peer_api: cannot read the address of " << device_id << ": " << e.what() << "\n";
        return "";
    }
}

}  // namespace

std::string peer_api_url(const std::string& address, const std::string& endpoint) {
    return "https://" + address + ":" + std::to_string(current_net::get().peer_port.load()) + "/api/v1" + endpoint;
}

std::string post_to_peer_api(const std::string& device_id_or_address, const std::string& endpoint,
                             const std::string& body) {
    if (is_peer_address(device_id_or_address)) {
        return post_json(peer_api_url(device_id_or_address, endpoint), body);
    }
    const std::string& device_id = device_id_or_address;
    std::string address = get_peer_ip(device_id);
    if (address.empty()) address = stored_address(device_id);
    // A stored text that is no IP literal ("from_ui", a name, damage) is never called.
    address = normalize_peer_address(address);
    if (address.empty()) return "";
    std::string reply = post_json(peer_api_url(address, endpoint), body);
    if (!reply.empty()) peer_seen(device_id, address);
    return reply;
}

void set_peer_api_port(std::uint16_t port) { current_net::get().peer_port = port; }

}  // namespace vandrel
