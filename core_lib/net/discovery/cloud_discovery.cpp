#include "core_lib/net/discovery/cloud_discovery.h"

#include <algorithm>
#include <exception>
#include <iostream>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/http/https_client.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_address.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

constexpr std::int64_t discovery_period_ms = 3600000;
constexpr auto flag_check = std::chrono::seconds(5);
// A listed device, its addresses and how many: what the service may make this device try.
constexpr std::size_t listed_devices = 64;
constexpr std::size_t addresses_per_device = 8;

}  // namespace

Json discovery_request() {
    Json::array ips;
    for (const std::string& ip : get_local_ips()) ips.emplace_back(ip);
    return Json::object{{"bssid", get_wifi_bssid()}, {"ssid", get_wifi_ssid()},        {"local_ips", std::move(ips)},
                        {"device_id", get_userid()}, {"sys_info", get_device_model()}, {"device_alias", get_alias()}};
}

std::vector<std::string> discovery_addresses(const std::string& local_ips) {
    std::vector<std::string> texts = split(local_ips, "|");
    // IPv4 (and IPv4-mapped) first, then byte order.
    std::sort(texts.begin(), texts.end(), [](const std::string& a, const std::string& b) {
        const bool a_dotted = a.find('.') != std::string::npos;
        const bool b_dotted = b.find('.') != std::string::npos;
        if (a_dotted != b_dotted) return a_dotted;
        return a < b;
    });
    std::vector<std::string> addresses;
    for (const std::string& text : texts) {
        const std::string address = normalize_peer_address(text);
        if (!address.empty() && std::find(addresses.begin(), addresses.end(), address) == addresses.end()) {
            addresses.push_back(address);
        }
        if (addresses.size() >= addresses_per_device) break;
    }
    return addresses;
}

void take_discovery_answer(const Json& answer) {
    if (!answer["network_devices"].is_array()) return;
    const std::string own_id = get_userid();
    std::size_t tried = 0;
    for (const Json& listed : answer["network_devices"].array_items()) {
        if (core_stopping() || ++tried > listed_devices) return;
        const std::string& id = listed["device_id"].string_value();
        if (id == own_id || !check_peer_id(id).empty()) continue;
        for (const std::string& address : discovery_addresses(listed["local_ips"].string_value())) {
            if (core_stopping()) return;
            if (prove_peer_at(address, post_json_deadline) == id) break;
        }
    }
}

void discovery_loop() {
    net_state& running = current_net::get();
    std::int64_t last_pass = 0;
    while (!core_stopping()) {
        if (now_ms() - last_pass <= discovery_period_ms && !discovery_flag().exchange(false)) {
            if (!running.threads.sleep_for(flag_check)) return;
            continue;
        }
        discovery_flag() = false;
        last_pass = now_ms();
        // A failing store ends this pass, not the loop: the next comes with the flag.
        try {
            const std::string reply =
                post_json(running.config.cloud_url + "/api/v1/discovery", discovery_request().dump());
            std::string err;
            take_discovery_answer(Json::parse(reply, err));
        } catch (const std::exception& e) {
            std::cerr << "cloud discovery failed: " << e.what() << "\n";
        }
    }
}

}  // namespace vandrel
