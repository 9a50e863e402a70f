// Delivery of what waits for a peer: each wake-up of resend_queue makes one pass over
// the peers in the directory, delivering their unsent text chats, the offers of files
// this device sends them (as "download" chats) and the notices of files received from
// them. What a peer refuses or does not answer stays unsent for a later pass; a peer
// that does not answer is pinged and, when that fails too, forgotten.
#pragma once

#include <string>

namespace vandrel {

// Thread body: one pass per wake-up, until the core stops.
void resend_loop();

// One delivery pass for one peer.
void resend_unsent(std::string peer);

// Pings the peer; when it does not answer, forgets its address and tells the interface.
void check_peer_connection(std::string peer);

}  // namespace vandrel
