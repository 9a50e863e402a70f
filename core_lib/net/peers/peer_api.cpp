#include "core_lib/net/peers/peer_api.h"

#include <exception>
#include <iostream>

#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/net/peers/self_calls.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string peer_api_url(const std::string& address, const std::string& endpoint) {
    return "https://" + address + ":" + std::to_string(current_net::get().peer_port.load()) + "/api/v1" + endpoint;
}

void set_peer_api_port(std::uint16_t port) { current_net::get().peer_port = port; }

namespace {

// This device as its own peer (the self test's loop-back): only at its own address,
// only to its own REST server, which must show this device's key before the secret
// goes out. Nothing is pinned or noted: this device is no peer of the store.
std::string post_to_self(const std::string& endpoint, const std::string& body, std::uint64_t answer_limit,
                         std::chrono::milliseconds deadline) {
    const std::string address = get_peer_ip(get_userid());
    const std::uint16_t port = own_rest_port();
    if (address.empty() || address != own_loopback_address() || port == 0) return "";
    const std::string key = own_key_sha256();
    if (key.empty()) return "";
    https_call_options options{self_call_fields(), key};
    https_answer answer = post_json_for_key("https://" + address + ":" + std::to_string(port) + "/api/v1" + endpoint,
                                            body, deadline, answer_limit, options);
    return answer.key_sha256 == key ? std::move(answer.body) : std::string();
}

}  // namespace

std::string post_to_peer_api(const std::string& device_id, const std::string& endpoint, const std::string& body,
                             std::uint64_t answer_limit, std::chrono::milliseconds deadline) {
    if (is_own_device(device_id)) return post_to_self(endpoint, body, answer_limit, deadline);
    const std::string address = get_peer_ip(device_id);
    if (address.empty()) return "";
    https_answer answer = post_json_for_key(peer_api_url(address, endpoint), body, deadline, answer_limit);
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
