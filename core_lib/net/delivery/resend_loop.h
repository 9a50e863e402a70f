// Delivery of what waits for a peer: each wake-up of resend_queue starts one delivery
// pass for every peer in the directory, delivering their unsent text chats, the offers
// of files this device sends them (as "download" chats) and the notices of files
// received from them. Peers are served side by side on a bounded pool, one pass per
// peer at a time, each call with a short deadline, so a slow peer delays only its own
// chats. A chat a peer refuses for good (an error that names its format or a limit) is
// marked failed and told to the interface as {"action": "chat_failed", "chat_id",
// "device_id", "error_code"}; what a peer refuses otherwise or does not answer stays
// unsent for a later pass; a peer that does not answer is pinged and, when that fails
// too, forgotten.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "core_lib/foundation/job_pool.h"

namespace vandrel {

// How long one call of a delivery pass may take.
inline constexpr std::chrono::milliseconds resend_call_time{10000};

// The running core's passes under way.
struct resend_deliveries {
    resend_deliveries();
    void stop() { pool.stop(); }

    std::mutex mutex;
    std::map<std::string, bool> running;  // peer -> another pass was asked while it ran
    // Wake-ups for peers new to the directory: the last one, and one held back.
    std::chrono::steady_clock::time_point newcomer_wake_at{};
    bool newcomer_wake_due = false;
    job_pool pool;
};

// Thread body: one pass per peer per wake-up, until the core stops.
void resend_loop();

// One delivery pass for one peer, on the calling thread.
void resend_unsent(std::string peer);

// Pings the peer; when it does not answer, forgets its address and tells the interface.
void check_peer_connection(std::string peer);

// Whether an error code of a peer's answer refuses the chat for good (its format or a
// limit) rather than for now.
bool refused_for_good(const std::string& error_code);

}  // namespace vandrel
