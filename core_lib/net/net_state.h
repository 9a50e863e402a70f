// Everything the network layer keeps for a running core: its configuration, the
// stopping flag and the service threads, the resend and mirror queues, the stop and
// pause slots, the avatar fetches, the web-share switch and the servers. One instance
// per core, bound through current<>; stop() ends all of it in reverse order of start.
// The secret of this device's calls to itself is made with it.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include <blockingconcurrentqueue.h>

#include "core_lib/foundation/current.h"
#include "core_lib/foundation/json.h"
#include "core_lib/net/discovery/lan_announce.h"
#include "core_lib/net/http/tls_sessions.h"
#include "core_lib/net/net_config.h"
#include "core_lib/net/peers/peer_avatar.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/net/servers.h"
#include "core_lib/net/service_threads.h"
#include "core_lib/net/transfer/transfer_slots.h"
#include "core_lib/net/web_share/web_mode.h"

namespace vandrel {

class net_state {
public:
    static constexpr const char* part_name = "network services";

    explicit net_state(net_config config = {});
    ~net_state();
    net_state(const net_state&) = delete;
    net_state& operator=(const net_state&) = delete;

    // Sets the stopping flag and wakes every loop and queue, without waiting.
    void request_stop();
    // request_stop(), then closes the servers and joins every thread of this part.
    void stop();
    bool stopping() const { return threads.stopping(); }
    // Closes both servers and joins their threads; they may be started again.
    void stop_servers();

    const net_config config;
    // Made once per core: what this device's calls to itself carry (self_calls.h).
    const std::string self_call_secret;
    // Starts as config.peer_port; tests point it at a stub peer.
    std::atomic<std::uint16_t> peer_port;
    service_threads threads;
    moodycamel::BlockingConcurrentQueue<bool> resend_queue;
    moodycamel::BlockingConcurrentQueue<Json> mirror_queue;
    transfer_slots slots;
    avatar_fetching avatars;
    peer_proofs proofs;
    tls_session_cache tls_sessions;
    // Store writes of transfers running on network threads (positions reached).
    job_pool transfer_bookkeeping{1, 1024, "mesk-books"};
    announce_service announce;
    web_share_switch web_share;
    std::mutex servers_mutex;
    running_servers servers;  // guarded by servers_mutex
};

using current_net = current<net_state>;

// True once the running core has begun to stop: every loop and every blocking call of
// the network layer ends when it sees it.
bool core_stopping();

}  // namespace vandrel
