// Fetching a peer's profile picture when its address changes: at most one fetch per
// peer and address at a time, run on a small pool of its own (two workers), never a
// thread per sighting. Failures store nothing and tell nobody.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core_lib/foundation/thread_pool.h"

namespace vandrel {

using avatar_fetcher = std::function<void(const std::string& device_id)>;

// The running core's fetches.
struct avatar_fetching {
    avatar_fetching();
    ~avatar_fetching() { stop(); }
    // Runs what is queued, joins the workers; later requests are dropped.
    void stop();

    std::mutex mutex;
    std::set<std::string> pending;  // "id|address" of fetches queued or running
    std::shared_ptr<const avatar_fetcher> fetcher;
    std::unique_ptr<ThreadPool> pool = std::make_unique<ThreadPool>(2);  // null once stopped
};

// Queues the fetch for the peer unless one for the same peer and address is queued or
// running. Never blocks.
void request_peer_avatar(const std::string& device_id, const std::string& address);

// GET "/get_avatar" of the peer; a {"status": "success", "avatar": TEXT} answer stores
// the text (a data URI) as the device's avatar.
void fetch_peer_avatar(const std::string& device_id);

// Replaces what the pool runs for a peer (fetch_peer_avatar by default); an empty
// function turns fetching off. For tests that must stay off the network.
void set_avatar_fetcher(avatar_fetcher fetcher);

}  // namespace vandrel
