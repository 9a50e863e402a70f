// The LAN announce as it arrives. parse_datagram takes exactly the texts of three fields
// and they format back to the same text. handle_announce, the receive path of a running
// core's announce service, takes the datagram from a peer's address and accepts it only
// when it parses with fields within the limits; what it starts (a proof of the address,
// a stored device, a reply) runs to its end before the next input. The first byte picks
// the address it comes from: the proven peer's, a stranger's, a mapped IPv4 address,
// IPv6 loopback, an address beyond the machine (never called: the core is bound to a
// loopback address), or an empty one.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core_lib/foundation/announce_datagram.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/discovery/lan_announce.h"
#include "core_lib/net/peers/peer_identity.h"
#include "fuzz/support/fuzz_check.h"
#include "fuzz/support/fuzz_core.h"

namespace {

using vandrel::fuzzing::fuzz_core;
using vandrel::fuzzing::property_broken;

std::string sender_address(std::uint8_t pick, const fuzz_core& core) {
    switch (pick % 6) {
        case 0:
            return core.peer_address();
        case 1:
            return core.stranger_address(pick);
        case 2:
            return "::ffff:" + core.stranger_address(pick);
        case 3:
            return "::1";
        case 4:
            return "192.0.2.1";
        default:
            return "";
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    fuzz_core& core = fuzz_core::get();
    const std::string from = sender_address(data[0], core);
    const std::string payload(reinterpret_cast<const char*>(data + 1), size - 1);

    std::string id, sys_info, alias;
    const bool parsed = vandrel::parse_datagram(payload, id, sys_info, alias);
    if (parsed && vandrel::format_datagram(id, sys_info, alias) != payload) {
        property_broken("the fields do not format back to the datagram");
    }
    if (!parsed && !(id.empty() && sys_info.empty() && alias.empty())) {
        property_broken("a refused datagram set its fields");
    }

    const bool taken = vandrel::handle_announce(payload, from);
    const bool acceptable = parsed && payload.size() <= vandrel::announce_datagram_bytes &&
                            sys_info.size() <= vandrel::limits::alias_bytes &&
                            alias.size() <= vandrel::limits::alias_bytes && vandrel::check_peer_id(id).empty();
    if (taken && !acceptable) property_broken("an announce outside the rules was taken");
    core.settle();
    return 0;
}
