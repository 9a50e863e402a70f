// The core's clock, its one shared pseudo-random engine and its random identifiers.
// All calls are thread-safe: draws from the shared engine are serialised by one lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>

namespace vandrel {

// Wall-clock milliseconds since 1970-01-01 UTC (follows changes of the system clock).
std::int64_t now_ms();

// Uniform over lo..hi, both included, drawn from the shared std::mt19937. Equal bounds
// give lo without advancing the engine; the full 32-bit range takes exactly one draw.
// Throws std::invalid_argument when lo is above hi.
int random_int(int lo, int hi);

// For tests: a copy of the shared engine as it stands, to predict the next draws.
std::mt19937 random_engine_snapshot();

// 128 bits as two halves, in the order they are written as text.
struct uuid_value {
    std::uint64_t first_half = 0;
    std::uint64_t second_half = 0;
};

// Version-4 UUID from the operating system's random source (not the shared engine).
uuid_value make_uuid_v4();

// 36 characters, lower-case hexadecimal in the 8-4-4-4-12 form, zero padded.
std::string uuid_to_string(const uuid_value& uuid);

// 64 lower-case hexadecimal characters: the SHA-256 of a fresh version-4 UUID text.
std::string random_string();

// The characters of a passphrase: lower-case letters and digits, which any phone keyboard
// types, without those a reader mistakes for another (0, 1, i, l, o).
inline constexpr const char* passphrase_alphabet = "23456789abcdefghjkmnpqrstuvwxyz";

// `length` characters drawn evenly from passphrase_alphabet with the operating system's
// random source (not the shared engine).
std::string random_passphrase(std::size_t length);

}  // namespace vandrel
