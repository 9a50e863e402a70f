// Calls to a peer's JSON API: "https://" + address + ":45001/api/v1" + endpoint through
// post_json. The address comes from the peer directory, else from the device's stored
// last address; only an IP literal is ever used. Any answer proves that the peer lives
// at that address.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel {

// "https://ADDRESS:PORT/api/v1ENDPOINT" for an address in its normal form, the port
// the running core calls its peers on.
std::string peer_api_url(const std::string& address, const std::string& endpoint);

// The peer is named by its device id, or directly by an IP address (then the directory
// is neither read nor updated). Returns the answer's body, or "" when the peer has no
// usable address or gave no answer; a non-empty answer to a device id records the
// peer as seen at the address used.
std::string post_to_peer_api(const std::string& device_id_or_address, const std::string& endpoint,
                             const std::string& body);

// Tests point the running core's peer calls at a stub server's port.
void set_peer_api_port(std::uint16_t port);

}  // namespace vandrel
