// Fetching a peer's profile picture when it shows up: once per peer and key for the
// life of the core, at most one fetch per address at a time, on a small pool of its own
// (so a silent peer holds one worker and delays no other peer's picture), never a
// thread per sighting, each fetch with a short deadline. A picture over
// limits::avatar_bytes is not taken, nor one past the total the store keeps for all
// (db_set_device_avatar). Failures store nothing and tell nobody.
#pragma once

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core_lib/foundation/job_pool.h"

namespace vandrel {

using avatar_fetcher = std::function<void(const std::string& device_id)>;

// The running core's fetches.
struct avatar_fetching {
    avatar_fetching();
    ~avatar_fetching() { stop(); }
    // Runs what is queued, joins the workers; later requests are dropped.
    void stop() { pool.stop(); }

    std::mutex mutex;
    std::set<std::string> fetched;          // "id|key" fetched or under way
    std::deque<std::string> fetched_order;  // the same, oldest first (bounded)
    std::set<std::string> busy_addresses;   // a fetch from there is under way
    std::shared_ptr<const avatar_fetcher> fetcher;
    job_pool pool;
};

// Queues the fetch for the peer seen at the address unless its picture under its
// current key was fetched already, or a fetch from that address is under way. Never
// blocks.
void request_peer_avatar(const std::string& device_id, const std::string& address);

// GET "/get_avatar" of the peer; a {"status": "success", "avatar": TEXT} answer stores
// the text (a data URI) as the device's avatar.
void fetch_peer_avatar(const std::string& device_id);

// Replaces what the pool runs for a peer (fetch_peer_avatar by default); an empty
// function turns fetching off. For tests that must stay off the network.
void set_avatar_fetcher(avatar_fetcher fetcher);

}  // namespace vandrel
