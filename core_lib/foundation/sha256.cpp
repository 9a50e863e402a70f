#include "core_lib/foundation/sha256.h"

#include <algorithm>
#include <cstring>

namespace vandrel {

namespace {

constexpr std::uint32_t rotr(std::uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

inline std::uint32_t load_be32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) | std::uint32_t(p[3]);
}

inline void store_be32(std::uint8_t* p, std::uint32_t v) {
    p[0] = std::uint8_t(v >> 24);
    p[1] = std::uint8_t(v >> 16);
    p[2] = std::uint8_t(v >> 8);
    p[3] = std::uint8_t(v);
}

// One compression step; the caller rotates the roles of the working words.
inline void step(std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t& d, std::uint32_t e, std::uint32_t f,
                 std::uint32_t g, std::uint32_t& h, std::uint32_t k_plus_w) {
    const std::uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + k_plus_w;
    const std::uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    d += t1;
    h = t1 + t2;
}

inline std::uint32_t sigma0(std::uint32_t x) { return rotr(x, 7) ^ rotr(x, 18) ^ (x >> 3); }
inline std::uint32_t sigma1(std::uint32_t x) { return rotr(x, 17) ^ rotr(x, 19) ^ (x >> 10); }

void compress(std::uint32_t state[8], const std::uint8_t* block) {
    std::uint32_t w[64];
    for (std::size_t i = 0; i < 16; ++i) w[i] = load_be32(block + 4 * i);
    for (int i = 16; i < 64; i += 8) {
        w[i] = sigma1(w[i - 2]) + w[i - 7] + sigma0(w[i - 15]) + w[i - 16];
        w[i + 1] = sigma1(w[i - 1]) + w[i - 6] + sigma0(w[i - 14]) + w[i - 15];
        w[i + 2] = sigma1(w[i]) + w[i - 5] + sigma0(w[i - 13]) + w[i - 14];
        w[i + 3] = sigma1(w[i + 1]) + w[i - 4] + sigma0(w[i - 12]) + w[i - 13];
        w[i + 4] = sigma1(w[i + 2]) + w[i - 3] + sigma0(w[i - 11]) + w[i - 12];
        w[i + 5] = sigma1(w[i + 3]) + w[i - 2] + sigma0(w[i - 10]) + w[i - 11];
        w[i + 6] = sigma1(w[i + 4]) + w[i - 1] + sigma0(w[i - 9]) + w[i - 10];
        w[i + 7] = sigma1(w[i + 5]) + w[i] + sigma0(w[i - 8]) + w[i - 9];
    }

    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];

    step(a, b, c, d, e, f, g, h, 0x428a2f98u + w[0]);
    step(h, a, b, c, d, e, f, g, 0x71374491u + w[1]);
    step(g, h, a, b, c, d, e, f, 0xb5c0fbcfu + w[2]);
    step(f, g, h, a, b, c, d, e, 0xe9b5dba5u + w[3]);
    step(e, f, g, h, a, b, c, d, 0x3956c25bu + w[4]);
    step(d, e, f, g, h, a, b, c, 0x59f111f1u + w[5]);
    step(c, d, e, f, g, h, a, b, 0x923f82a4u + w[6]);
    step(b, c, d, e, f, g, h, a, 0xab1c5ed5u + w[7]);
    step(a, b, c, d, e, f, g, h, 0xd807aa98u + w[8]);
    step(h, a, b, c, d, e, f, g, 0x12835b01u + w[9]);
    step(g, h, a, b, c, d, e, f, 0x243185beu + w[10]);
    step(f, g, h, a, b, c, d, e, 0x550c7dc3u + w[11]);
    step(e, f, g, h, a, b, c, d, 0x72be5d74u + w[12]);
    step(d, e, f, g, h, a, b, c, 0x80deb1feu + w[13]);
    step(c, d, e, f, g, h, a, b, 0x9bdc06a7u + w[14]);
    step(b, c, d, e, f, g, h, a, 0xc19bf174u + w[15]);
    step(a, b, c, d, e, f, g, h, 0xe49b69c1u + w[16]);
    step(h, a, b, c, d, e, f, g, 0xefbe4786u + w[17]);
    step(g, h, a, b, c, d, e, f, 0x0fc19dc6u + w[18]);
    step(f, g, h, a, b, c, d, e, 0x240ca1ccu + w[19]);
    step(e, f, g, h, a, b, c, d, 0x2de92c6fu + w[20]);
    step(d, e, f, g, h, a, b, c, 0x4a7484aau + w[21]);
    step(c, d, e, f, g, h, a, b, 0x5cb0a9dcu + w[22]);
    step(b, c, d, e, f, g, h, a, 0x76f988dau + w[23]);
    step(a, b, c, d, e, f, g, h, 0x983e5152u + w[24]);
    step(h, a, b, c, d, e, f, g, 0xa831c66du + w[25]);
    step(g, h, a, b, c, d, e, f, 0xb00327c8u + w[26]);
    step(f, g, h, a, b, c, d, e, 0xbf597fc7u + w[27]);
    step(e, f, g, h, a, b, c, d, 0xc6e00bf3u + w[28]);
    step(d, e, f, g, h, a, b, c, 0xd5a79147u + w[29]);
    step(c, d, e, f, g, h, a, b, 0x06ca6351u + w[30]);
    step(b, c, d, e, f, g, h, a, 0x14292967u + w[31]);
    step(a, b, c, d, e, f, g, h, 0x27b70a85u + w[32]);
    step(h, a, b, c, d, e, f, g, 0x2e1b2138u + w[33]);
    step(g, h, a, b, c, d, e, f, 0x4d2c6dfcu + w[34]);
    step(f, g, h, a, b, c, d, e, 0x53380d13u + w[35]);
    step(e, f, g, h, a, b, c, d, 0x650a7354u + w[36]);
    step(d, e, f, g, h, a, b, c, 0x766a0abbu + w[37]);
    step(c, d, e, f, g, h, a, b, 0x81c2c92eu + w[38]);
    step(b, c, d, e, f, g, h, a, 0x92722c85u + w[39]);
    step(a, b, c, d, e, f, g, h, 0xa2bfe8a1u + w[40]);
    step(h, a, b, c, d, e, f, g, 0xa81a664bu + w[41]);
    step(g, h, a, b, c, d, e, f, 0xc24b8b70u + w[42]);
    step(f, g, h, a, b, c, d, e, 0xc76c51a3u + w[43]);
    step(e, f, g, h, a, b, c, d, 0xd192e819u + w[44]);
    step(d, e, f, g, h, a, b, c, 0xd6990624u + w[45]);
    step(c, d, e, f, g, h, a, b, 0xf40e3585u + w[46]);
    step(b, c, d, e, f, g, h, a, 0x106aa070u + w[47]);
    step(a, b, c, d, e, f, g, h, 0x19a4c116u + w[48]);
    step(h, a, b, c, d, e, f, g, 0x1e376c08u + w[49]);
    step(g, h, a, b, c, d, e, f, 0x2748774cu + w[50]);
    step(f, g, h, a, b, c, d, e, 0x34b0bcb5u + w[51]);
    step(e, f, g, h, a, b, c, d, 0x391c0cb3u + w[52]);
    step(d, e, f, g, h, a, b, c, 0x4ed8aa4au + w[53]);
    step(c, d, e, f, g, h, a, b, 0x5b9cca4fu + w[54]);
    step(b, c, d, e, f, g, h, a, 0x682e6ff3u + w[55]);
    step(a, b, c, d, e, f, g, h, 0x748f82eeu + w[56]);
    step(h, a, b, c, d, e, f, g, 0x78a5636fu + w[57]);
    step(g, h, a, b, c, d, e, f, 0x84c87814u + w[58]);
    step(f, g, h, a, b, c, d, e, 0x8cc70208u + w[59]);
    step(e, f, g, h, a, b, c, d, 0x90befffau + w[60]);
    step(d, e, f, g, h, a, b, c, 0xa4506cebu + w[61]);
    step(c, d, e, f, g, h, a, b, 0xbef9a3f7u + w[62]);
    step(b, c, d, e, f, g, h, a, 0xc67178f2u + w[63]);

    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace

void sha256_init(sha256_context& ctx) {
    ctx.state[0] = 0x6a09e667u;
    ctx.state[1] = 0xbb67ae85u;
    ctx.state[2] = 0x3c6ef372u;
    ctx.state[3] = 0xa54ff53au;
    ctx.state[4] = 0x510e527fu;
    ctx.state[5] = 0x9b05688cu;
    ctx.state[6] = 0x1f83d9abu;
    ctx.state[7] = 0x5be0cd19u;
    ctx.total = 0;
    ctx.buffered = 0;
}

void sha256_update(sha256_context& ctx, const void* data, std::size_t length) {
    if (length == 0) return;  // data may be null then
    auto in = static_cast<const std::uint8_t*>(data);
    if (ctx.buffered != 0) {
        const std::size_t take = std::min<std::size_t>(64 - ctx.buffered, length);
        std::memcpy(ctx.buffer + ctx.buffered, in, take);
        ctx.buffered += static_cast<std::uint32_t>(take);
        in += take;
        length -= take;
        if (ctx.buffered < 64) return;
        compress(ctx.state, ctx.buffer);
        ctx.total += 64;
        ctx.buffered = 0;
    }
    // Whole blocks are compressed straight from the input.
    while (length >= 64) {
        compress(ctx.state, in);
        ctx.total += 64;
        in += 64;
        length -= 64;
    }
    if (length != 0) {
        std::memcpy(ctx.buffer, in, length);
        ctx.buffered = static_cast<std::uint32_t>(length);
    }
}

sha256_digest sha256_final(sha256_context& ctx) {
    const std::uint64_t bits = (ctx.total + ctx.buffered) * 8;
    ctx.buffer[ctx.buffered] = 0x80;
    if (ctx.buffered < 56) {
        std::memset(ctx.buffer + ctx.buffered + 1, 0, 55 - ctx.buffered);
    } else {
        // No room left for the length: close this block and pad a second one.
        std::memset(ctx.buffer + ctx.buffered + 1, 0, 63 - ctx.buffered);
        compress(ctx.state, ctx.buffer);
        std::memset(ctx.buffer, 0, 56);
    }
    store_be32(ctx.buffer + 56, static_cast<std::uint32_t>(bits >> 32));
    store_be32(ctx.buffer + 60, static_cast<std::uint32_t>(bits));
    compress(ctx.state, ctx.buffer);

    sha256_digest digest;
    for (std::size_t i = 0; i < 8; ++i) store_be32(digest.data() + 4 * i, ctx.state[i]);
    return digest;
}

std::string sha256_hex(std::string_view text) {
    sha256_context ctx;
    sha256_init(ctx);
    sha256_update(ctx, text.data(), text.size());
    const sha256_digest digest = sha256_final(ctx);

    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(64);
    for (std::uint8_t byte : digest) {
        out.push_back(hex[byte >> 4]);
        out.push_back(hex[byte & 0x0F]);
    }
    return out;
}

}  // namespace vandrel
