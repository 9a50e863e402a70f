#include "core_lib/net/peer_avatar.h"

#include <exception>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/thread_pool.h"
#include "core_lib/net/peer_api.h"
#include "core_lib/store/devices.h"

namespace vandrel {

namespace {

using fetcher_type = std::function<void(const std::string&)>;

std::mutex avatar_mutex;
std::set<std::string> pending;  // "id|address" of fetches queued or running
std::shared_ptr<const fetcher_type> current_fetcher = std::make_shared<const fetcher_type>(fetch_peer_avatar);

ThreadPool& avatar_pool() {
    // Lives as long as the process, like the core's other service threads: a fetch may
    // still be waiting on a peer when the process ends.
    static ThreadPool* pool = new ThreadPool(2);
    return *pool;
}

}  // namespace

void set_avatar_fetcher(fetcher_type fetcher) {
    auto next = fetcher ? std::make_shared<const fetcher_type>(std::move(fetcher)) : nullptr;
    std::lock_guard<std::mutex> lock(avatar_mutex);
    current_fetcher = std::move(next);
}

void request_peer_avatar(const std::string& device_id, const std::string& address) {
    std::shared_ptr<const fetcher_type> fetcher;
    const std::string key = device_id + "|" + address;
    {
        std::lock_guard<std::mutex> lock(avatar_mutex);
        if (!current_fetcher || !pending.insert(key).second) return;
        fetcher = current_fetcher;
    }
    try {
        avatar_pool().enqueue([fetcher, device_id, key] {
            try {
                (*fetcher)(device_id);
            } catch (const std::exception& e) {
                std::cerr << "avatar fetch of " << device_id << " failed: " << e.what() << "\n";
            } catch (...) {
                std::cerr << "avatar fetch of " << device_id << " failed\n";
            }
            std::lock_guard<std::mutex> lock(avatar_mutex);
            pending.erase(key);
        });
    } catch (const std::exception& e) {
        std::cerr << "avatar fetch of " << device_id << " not queued: " << e.what() << "\n";
        std::lock_guard<std::mutex> lock(avatar_mutex);
        pending.erase(key);
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
