// The REST server's request path fed raw bytes, as a peer's connection brings them once
// TLS is taken off: Beast's parser within the server's header and body limits, the caps,
// the routing ("/api/v1" + endpoint to the API with the peer's address as the origin,
// "/download/v1" to the files offered to that peer, "/thumbnail/v1" to their pictures,
// anything else the time) and the answers. Each input is one connection from the address
// of the proven peer, so the routes reach as far as a known device gets (its offered
// file is "fuzz-file" in upload "fuzz-upload").
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/support/fuzz_core.h"
#include "fuzz/support/http_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& core = vandrel::fuzzing::fuzz_core::get();
    vandrel::fuzzing::serve_raw_request(core.peer_address(), core.own_address(), core.rest_port(),
                                        std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
