// The LAN announce over UDP: every device listens on port 45001 and sends bursts of its
// announce (id|sys_info|alias) to the directed broadcast address of each of its IPv4
// networks; an announce from another device is answered with this device's own,
// straight to the announcer, at most once every 3 s per address and within a total
// reply rate, so that forged sources neither grow memory nor make this device flood a
// third host. A datagram whose source is on none of this device's networks (nor this
// host itself) is dropped before anything else. An announcer already proven at its address is stored as it describes
// itself; any other starts a proof of the address (a ping), which is what records it.
// The socket lives on a manager thread of its own; what it receives is checked there
// and handed to a small bounded pool, so the network thread never waits for the store.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core_lib/foundation/job_pool.h"

namespace vandrel {

class io_manager;

// Datagram targets and payloads queued for the sender.
struct udp_pair {
    std::string address;
    std::string payload;
};

// The running core's announce service.
struct announce_service {
    announce_service();
    ~announce_service();
    void stop();

    std::mutex mutex;
    std::unique_ptr<io_manager> manager;  // null while not started
    std::shared_ptr<void> socket;         // the UDP socket, kept by the manager too

    // Reply bookkeeping, only touched on the manager's thread.
    std::map<std::string, std::int64_t> last_announce_reply;  // address -> seconds
    double reply_tokens = 0;
    std::chrono::steady_clock::time_point tokens_at{};
    // This device's networks ("ADDRESS/PREFIX"), read again once they are older than
    // announce_networks_age.
    std::vector<std::string> networks;
    std::chrono::steady_clock::time_point networks_at{};

    job_pool handling;
};

inline constexpr std::int64_t announce_reply_seconds = 3;
// Replies sent in all, per second, and the burst allowed.
inline constexpr double announce_replies_per_second = 20;
inline constexpr std::size_t announce_reply_entries = 1024;
inline constexpr std::size_t announce_datagram_bytes = 1024;
inline constexpr std::chrono::seconds announce_networks_age{2};

// Binds the announce port (on every address, or the core's bind address) with
// broadcast allowed and starts receiving. A port that cannot be bound is reported.
void start_udp_announce_service();
void stop_udp_announce_service();

// Queues one datagram; never blocks. From a core bound to a loopback address, only to
// loopback addresses.
void queue_udp_datagram(std::string address, std::string payload);

// Thread body: a burst of 10 announces 2 s apart at start, hourly, and whenever the
// announce flag is raised.
void lan_announce_loop();

// One received datagram: false when it was ignored (a source on none of this device's
// networks, not three fields within the limits, this device's own, or the core stopping). Runs the reply bookkeeping;
// the store and directory work goes to the handling pool.
bool handle_announce(const std::string& payload, const std::string& from_address);

}  // namespace vandrel
