// The web-share server (plain HTTP, for browsers on the network) fed raw bytes: Beast's
// parser within the server's limits, the code check and its lock-out, the page files
// (paths decoded and kept inside the page folder), the JSON API, the shared files with
// byte ranges, and the WebSocket upgrade with whatever frames follow it. The code is
// "1234"; "@shared@" in an input stands for the shared file's id. Each input comes from
// an address of its own, so a lock-out that one input earns is not the next one's.
#include <cstddef>
#include <cstdint>
#include <string>

#include "core_lib/foundation/text_utils.h"
#include "fuzz/support/fuzz_core.h"
#include "fuzz/support/http_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static std::uint32_t inputs = 0;
    auto& core = vandrel::fuzzing::fuzz_core::get();
    std::string bytes(reinterpret_cast<const char*>(data), size);
    vandrel::replace_all(bytes, "@shared@", core.shared_file_id());
    vandrel::fuzzing::serve_raw_request(core.fresh_address(inputs++), core.own_address(), core.web_port(), bytes);
    return 0;
}
