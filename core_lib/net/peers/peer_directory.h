// The peer directory: where each peer was last seen while the core runs (the table of
// peer_addresses.h, in the normal form of peer_address.h) and what a sighting sets off.
// A change of a peer's address touches its device row, tells the interface, wakes the
// resend loop and the download thread and fetches its avatar.
#pragma once

#include <string>

#include "core_lib/store/peer_addresses.h"

namespace vandrel {

// A peer was seen at this address. Only IP literals count ("from_ui", "test", names and
// garbage are ignored); the address is stored in its normal form. When it differs from
// the one held: touches the device's row, posts {"action": "peers_updated"}, wakes the
// resend loop (for a peer new to the directory, within the newcomers' pause of
// resend_queue.h) and the download thread, and fetches the peer's avatar on the avatar pool
// (this device, as its own peer in the self test, has none to fetch). An unchanged
// address costs one look-up. True when the address is the one held afterwards.
bool peer_seen(const std::string& device_id, const std::string& address);

// Forgets the peer's address (it stopped answering) and posts "peers_updated"; its next
// sighting counts as a change.
void notify_peers_updated(const std::string& device_id);

// Forgets every address (this device's network changed) and posts "peers_updated".
void notify_peers_reset();

}  // namespace vandrel
