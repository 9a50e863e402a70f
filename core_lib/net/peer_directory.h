// The peer directory: where each peer was last seen while the core runs (device id ->
// address in the normal form of peer_address.h). A change of a peer's address touches
// its device row, tells the interface, wakes the resend loop and fetches its avatar.
// get_peer_ip reads only the in-memory map (never the store), so store operations may
// call it while they hold the database lock. Every map operation is one locked step.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace vandrel {

// The address at which the device was last seen, or "" when it has not been seen.
std::string get_peer_ip(const std::string& device_id);

// Records the address, nothing else; returns true when it differs from the one held
// before. For callers that must not start the effects of peer_seen (tests, seeding).
bool set_peer_ip(const std::string& device_id, const std::string& address);

// A copy of the whole map (device id -> address).
std::map<std::string, std::string> peer_ip_snapshot();

// Forgets every address without telling anyone.
void clear_peer_ips();

// A peer was seen at this address. Only IP literals count ("from_ui", "test", names and
// garbage are ignored); the address is stored in its normal form. When it differs from
// the one held: touches the device's row, posts {"action": "peers_updated"}, wakes the
// resend loop and fetches the peer's avatar on the avatar pool. An unchanged address
// costs one look-up.
void peer_seen(const std::string& device_id, const std::string& address);

// Forgets the peer's address (it stopped answering) and posts "peers_updated"; its next
// sighting counts as a change.
void notify_peers_updated(const std::string& device_id);

// Forgets every address (this device's network changed) and posts "peers_updated".
void notify_peers_reset();

// The ids in the directory, in id order, this device's own id left out.
std::vector<std::string> seen_peer_ids();

}  // namespace vandrel
