// Where each peer was last seen while the core runs (device id -> address in the normal
// form of peer addresses): the in-memory table under the peer directory. It holds at
// most limits::known_peers entries; a new one beyond that pushes out the entry set
// longest ago among those without chats, and an entry of a peer without chats never
// pushes out one with them (keep_peer_ip). It never touches the database, so store operations may read it while
// they hold db_lock; only the calls that leave out or add this device's own id read
// that id (settings.h), which is cached once the core has started. Every operation is
// one locked step.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

namespace vandrel {

struct peer_address_table {
    struct entry {
        std::string address;
        std::uint64_t set_at = 0;  // order of the last change
        bool kept = false;         // a peer this device has chats with
    };
    std::mutex mutex;
    std::map<std::string, entry> entries;
    std::uint64_t changes = 0;
};

// The address at which the device was last seen, or "" when it has not been seen.
std::string get_peer_ip(const std::string& device_id);

// Records the address, nothing else; returns true when it differs from the one held
// before. `kept` marks a peer this device has chats with. A new entry of a peer without
// chats is not taken (false) when every entry is kept. For callers that must not start
// the effects of peer_seen (tests, seeding).
bool set_peer_ip(const std::string& device_id, const std::string& address, bool kept = false);

// Marks the peer's entry, when there is one, as one that newcomers never push out.
void keep_peer_ip(const std::string& device_id);

// Forgets one peer's address; true when one was held.
bool forget_peer_ip(const std::string& device_id);

// The ids held at that address, in id order, this device's own id left out: an
// address never speaks for this device (its own calls carry a secret, self_calls.h).
std::vector<std::string> peers_at_address(const std::string& address);

// A copy of the whole table (device id -> address).
std::map<std::string, std::string> peer_ip_snapshot();

// Forgets every address without telling anyone.
void clear_peer_ips();

// The ids in the table, in id order, this device's own id left out.
std::vector<std::string> seen_peer_ids();

// The ids the transfer loops deliver to and fetch from: those of seen_peer_ids, and
// this device's own id last while it is in the table (the self test's loop-back).
std::vector<std::string> transfer_peer_ids();

}  // namespace vandrel
