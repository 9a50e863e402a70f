#include "core_lib/net/peer_api.h"

#include <exception>
#include <iostream>

#include "core_lib/net/net_state.h"
#include "core_lib/net/peer_directory.h"
#include "core_lib/store/devices.h"

namespace vandrel {

std::string peer_api_url(const std::string& address, const std::string& endpoint) {
    return "https://" + address + ":" + std::to_string(current_net::get().peer_port.load()) + "/api/v1" + endpoint;
}

void set_peer_api_port(std::uint16_t port) { current_net::get().peer_port = port; }

std::string post_to_peer_api(const std::string& device_id, const std::string& endpoint, const std::string& body,
                             std::uint64_t answer_limit) {
    const std::string address = get_peer_ip(device_id);
    if (address.empty()) return "";
    https_answer answer = post_json_for_key(peer_api_url(address, endpoint), body, post_json_deadline, answer_limit);
    if (answer.body.empty() || answer.key_sha256.empty()) return "";
    try {
        if (db_pin_device_key(device_id, answer.key_sha256) != answer.key_sha256) {
            std::cerr << "post_to_peer_api: " << address << " answered for " << device_id << " with another key\n";
            return "";
        }
    } catch (const std::exception& e) {
        std::cerr << "post_to_peer_api: cannot check the key of " << device_id << ": " << e.what() << "\n";
        return "";
    }
    peer_seen(device_id, address);
    return std::move(answer.body);
}

}  // namespace vandrel
