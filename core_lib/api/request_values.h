// Reading numbers out of request values: byte counts, offsets and times travel as
// decimal texts (sometimes as JSON numbers). A count that does not convert counts 0; an
// offset beyond the largest the store takes counts as that largest one.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

// The largest row offset the database takes (SQLite's integers are signed 64-bit).
inline constexpr std::uint64_t largest_offset = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// Leading blanks skipped, an optional '+', then decimal digits up to the first other
// character. No digits, a '-' sign or a value beyond 64 bits give 0.
std::uint64_t parse_u64_or_zero(const std::string& text);

// Whether the text is a byte count as file entries carry it: decimal digits only, at
// least one, and no more than the store keeps exactly (largest_offset).
bool is_byte_count(const std::string& text);

// A JSON number (its integer value, negatives as 0) or a decimal text as above.
std::uint64_t read_count(const Json& value);

// A number of rows to skip, read as read_count does, except that a value above
// largest_offset (digits beyond 64 bits included) gives largest_offset: a page asked
// for past the end is empty, never the first page.
std::uint64_t read_offset(const Json& value);

}  // namespace vandrel
