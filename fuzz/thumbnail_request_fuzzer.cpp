// The thumbnail server (plain HTTP, for the interface only) fed raw bytes: Beast's
// parser within the server's limits, the rule that only GET "/thumbnail/v1/..." is
// answered, and the pictures of files offered ("upload/fuzz-file") and received
// ("download/ID"). Each input is one connection from another local address.
#include <cstddef>
#include <cstdint>
#include <string>

#include "fuzz/support/fuzz_core.h"
#include "fuzz/support/http_target.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto& core = vandrel::fuzzing::fuzz_core::get();
    vandrel::fuzzing::serve_raw_request(core.stranger_address(0), core.own_address(), core.loopback_port(),
                                        std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
