// The peer refresh: hourly, and within 5 s whenever the refresh flag is raised, this
// device pings the ten addresses where it last saw peers and the hotspot gateway
// "192.168.137.1", on a pool of five workers. Each ping is a proof: a device that
// answers with its key is stored and recorded where it answered.
#pragma once

#include <string>

namespace vandrel {

inline const std::string hotspot_gateway_address = "192.168.137.1";

// Thread body, until the core stops.
void refresh_peers_loop();

// One ping and its bookkeeping (a proof of the address); runs on a pool worker.
void ping_peer(std::string address);

}  // namespace vandrel
