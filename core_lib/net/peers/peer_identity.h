// Peers proven by their key, trust on first use. An address counts for a device id only
// after this device's own call there (a ping) was answered by that id with the key
// pinned for it; the first such answer pins the key. A request that claims an id from
// an address where that id is not proven starts such a proof; until it succeeds the
// claim does not hold. An answer that shows another key than the pinned one is told to
// the interface once ("peer_key_changed") and refused until the user forgets the peer.
// The tables behind it are bounded (limits::pending_proofs, limits::known_peers).
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "core_lib/foundation/job_pool.h"

namespace vandrel {

// "" when a peer may go by this id; else the error code: "empty_id", "too_long",
// "invalid_id" (an IP address, or characters an id never holds) or "forbidden" (this
// device's own id).
std::string check_peer_id(const std::string& id);

// One ping from this device to the address. When the answer names a device whose key
// checks out (pinned now, or pinned before and the same), stores it, records it in the
// peer directory at that address and returns its id; otherwise "".
std::string prove_peer_at(const std::string& address, std::chrono::milliseconds deadline);

// Whether the device is proven at the request's origin. When it is not, a proof of the
// origin starts (or one under way is joined); with `wait` the answer is that proof's
// outcome if it comes within limits::proof_wait, without it false at once (the proof goes
// on in the background). Proofs under way are bounded in all and per address (an IPv6
// /64: limits::proofs_per_address); a claim over them does not hold. Claims made
// by datagrams, whose source anyone can forge, wait for proofs in a queue of their own,
// so that a flood of them never delays the proof of a peer that connected; they start
// a proof of one address at most once per datagram_proof_pause, and
// datagram_proofs_per_second in all.
enum class claim_by { connection, datagram };
inline constexpr std::chrono::seconds datagram_proof_pause{10};
inline constexpr double datagram_proofs_per_second = 10;
bool peer_claim_holds(const std::string& device_id, const std::string& origin, bool wait,
                      claim_by source = claim_by::connection);

// The interface's erase of a peer: its key is forgotten and its warning may come again.
void forget_peer_key(const std::string& device_id);

// The running core's proofs under way and the warnings given.
struct peer_proofs {
    struct proof {
        bool done = false;
        bool by_datagram = false;
        std::string proven_id;
    };
    std::mutex mutex;
    std::condition_variable finished;
    std::map<std::string, std::shared_ptr<proof>> running;  // by address
    std::size_t running_by_datagram = 0;                    // of those, started by datagrams
    // When datagrams last started a proof of each address, and the tokens of their
    // total rate: a forged source may not make this device call one host again and again.
    std::map<std::string, std::chrono::steady_clock::time_point> datagram_tried;
    double datagram_tokens = 0;
    std::chrono::steady_clock::time_point datagram_tokens_at{};
    std::set<std::string> warned;  // ids whose key changed
    job_pool pool;
    job_pool datagram_pool;
    peer_proofs();
    void stop() {
        pool.stop();
        datagram_pool.stop();
    }
};

}  // namespace vandrel
