// SHA-256 (FIPS 180-4) over byte strings. Each digest owns its own context, so any
// number of threads may hash at once; sha256_hex is the one call the core uses.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vandrel {

struct sha256_context {
    std::uint32_t state[8];   // chaining words
    std::uint64_t total;      // bytes already compressed, a multiple of 64
    std::uint8_t buffer[64];  // tail not yet compressed
    std::uint32_t buffered;   // valid bytes in buffer, 0..63 between calls
};

using sha256_digest = std::array<std::uint8_t, 32>;

void sha256_init(sha256_context& ctx);
void sha256_update(sha256_context& ctx, const void* data, std::size_t length);
// Pads and compresses the last block or blocks; the context is spent afterwards.
sha256_digest sha256_final(sha256_context& ctx);

// 64 lower-case hexadecimal characters of the digest of the text's bytes.
std::string sha256_hex(std::string_view text);

}  // namespace vandrel
