// What the three server targets share: the bytes of one input sent on one connection to
// a server of the fuzzing core, the answer read until the server closes, and the
// checks every answer passes (nothing at all, or HTTP/1.x answers). The work the
// request started ends before the next input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vandrel::fuzzing {

// Returns what the server answered.
std::string serve_raw_request(const std::string& source, const std::string& host, std::uint16_t port,
                              const std::string& bytes);

}  // namespace vandrel::fuzzing
