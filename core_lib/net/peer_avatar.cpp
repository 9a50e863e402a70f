#include "core_lib/net/peer_avatar.h"

#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/run_logged.h"
#include "core_lib/foundation/thread_pool.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peer_api.h"
#include "core_lib/store/devices.h"

namespace vandrel {

namespace {

avatar_fetching& fetching() { return current_net::get().avatars; }

}  // namespace

avatar_fetching::avatar_fetching() : fetcher(std::make_shared<const avatar_fetcher>(fetch_peer_avatar)) {}

void avatar_fetching::stop() {
    std::unique_ptr<ThreadPool> ending;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ending = std::move(pool);
    }
    ending.reset();  // outside the lock: the jobs take it when they end
}

void set_avatar_fetcher(avatar_fetcher fetcher) {
    auto next = fetcher ? std::make_shared<const avatar_fetcher>(std::move(fetcher)) : nullptr;
    avatar_fetching& f = fetching();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.fetcher = std::move(next);
}

void request_peer_avatar(const std::string& device_id, const std::string& address) {
    const std::string key = device_id + "|" + address;
    avatar_fetching& f = fetching();
    std::lock_guard<std::mutex> lock(f.mutex);
    if (!f.fetcher || !f.pool || !f.pending.insert(key).second) return;
    try {
        f.pool->enqueue([&f, fetcher = f.fetcher, device_id, key] {
            run_logged("avatar fetch of " + device_id, [&] { (*fetcher)(device_id); });
            std::lock_guard<std::mutex> done(f.mutex);
            f.pending.erase(key);
        });
    } catch (const std::exception& e) {
        std::cerr << "avatar fetch of " << device_id << " not queued: " << e.what() << "\n";
        f.pending.erase(key);
    }
}

void fetch_peer_avatar(const std::string& device_id) {
    const std::string reply = post_to_peer_api(device_id, "/get_avatar", "");
    std::string err;
    Json answer = Json::parse(reply, err);
    if (!err.empty() || !answer["status"].is_string() || answer["status"].string_value() != "success" ||
        !answer["avatar"].is_string()) {
        return;
    }
    db_set_device_avatar(device_id, answer["avatar"].string_value());
}

}  // namespace vandrel
