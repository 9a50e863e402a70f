// Calls to a peer's JSON API: "https://" + address + ":45001/api/v1" + endpoint. A peer
// is named by its device id and reached only at the address the peer directory holds
// for it (an address proven by the peer's key); an answer counts only when the server
// showed the key pinned for that peer, so whoever else answers there is no answer.
// This device's own id (the self test's loop-back) is reached at its own address and
// REST port as a call of its own (self_calls.h).
#pragma once

#include <cstdint>
#include <string>

#include "core_lib/net/http/https_client.h"

namespace vandrel {

// "https://ADDRESS:PORT/api/v1ENDPOINT" for an address in its normal form, the port
// the running core calls its peers on.
std::string peer_api_url(const std::string& address, const std::string& endpoint);

// The answer's body, or "" when the peer is not in the directory, gave no answer, or
// answered with another key. A peer with no key pinned yet gets the one it showed.
std::string post_to_peer_api(const std::string& device_id, const std::string& endpoint, const std::string& body,
                             std::uint64_t answer_limit = default_answer_limit,
                             std::chrono::milliseconds deadline = post_json_deadline);

// Tests point the running core's peer calls at a stub server's port.
void set_peer_api_port(std::uint16_t port);

}  // namespace vandrel
