#include "core_lib/net/peers/peer_avatar.h"

#include <exception>
#include <iostream>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/foundation/run_logged.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/store/devices.h"

namespace vandrel {

namespace {

constexpr unsigned avatar_workers = 4;
// The envelope around the picture's text.
constexpr std::uint64_t avatar_answer_bytes = limits::avatar_bytes + 4096;

avatar_fetching& fetching() { return current_net::get().avatars; }

}  // namespace

avatar_fetching::avatar_fetching()
    : fetcher(std::make_shared<const avatar_fetcher>(fetch_peer_avatar)),
      pool(avatar_workers, limits::known_peers, "mesk-avatar") {}

void set_avatar_fetcher(avatar_fetcher fetcher) {
    auto next = fetcher ? std::make_shared<const avatar_fetcher>(std::move(fetcher)) : nullptr;
    avatar_fetching& f = fetching();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.fetcher = std::move(next);
}

void request_peer_avatar(const std::string& device_id, const std::string& address) {
    std::string key;
    try {
        key = db_get_device_key(device_id);
    } catch (const std::exception& e) {
        std::cerr << "avatar fetch of " << device_id << " not queued: " << e.what() << "\n";
        return;
    }
    const std::string tag = device_id + "|" + key;
    avatar_fetching& f = fetching();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.fetcher || f.fetched.count(tag) || f.busy_addresses.count(address)) return;
    std::string name = "avatar fetch of " + device_id;
    std::function<void()> job = [&f, fetcher = f.fetcher, device_id, address] {
        run_logged("avatar fetch of " + device_id, [&] { (*fetcher)(device_id); });
        std::lock_guard<std::mutex> done(f.mutex);
        f.busy_addresses.erase(address);
    };
    if (!f.pool.push(name, job)) return;
    f.busy_addresses.insert(address);
    f.fetched.insert(tag);
    f.fetched_order.push_back(tag);
    if (f.fetched_order.size() > limits::known_peers) {
        f.fetched.erase(f.fetched_order.front());
        f.fetched_order.pop_front();
    }
}

void fetch_peer_avatar(const std::string& device_id) {
    const std::string reply = post_to_peer_api(device_id, "/get_avatar", "", avatar_answer_bytes);
    std::string err;
    Json answer = Json::parse(reply, err);
    if (!err.empty() || !answer["status"].is_string() || answer["status"].string_value() != "success" ||
        !answer["avatar"].is_string() || answer["avatar"].string_value().size() > limits::avatar_bytes) {
        return;
    }
    db_set_device_avatar(device_id, answer["avatar"].string_value());
}

}  // namespace vandrel
