#include "core_lib/net/discovery/peer_refresh.h"

#include <vector>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/thread_pool.h"
#include "core_lib/net/http/https_client.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/service_flags.h"

namespace vandrel {

namespace {

constexpr std::int64_t refresh_period_ms = 3600000;
constexpr auto flag_check = std::chrono::seconds(5);
constexpr unsigned ping_workers = 5;

}  // namespace

void ping_peer(std::string address) { prove_peer_at(address, post_json_deadline); }

void refresh_peers_loop() {
    net_state& running = current_net::get();
    ThreadPool pool(ping_workers, "mesk-ping");
    std::int64_t last_pass = 0;
    while (!core_stopping()) {
        if (now_ms() - last_pass <= refresh_period_ms && !peer_refresh_flag().exchange(false)) {
            if (!running.threads.sleep_for(flag_check)) break;
            continue;
        }
        peer_refresh_flag() = false;
        last_pass = now_ms();
        std::vector<std::string> addresses = db_get_recent_peer_ips();
        addresses.push_back(hotspot_gateway_address);
        for (const std::string& address : addresses) {
            if (core_stopping()) break;
            pool.enqueue([address] { ping_peer(address); });
        }
    }
    // The pool's destructor runs what is queued: those pings see the stop and end at once.
}

}  // namespace vandrel
