// Reading numbers out of request values: byte counts, offsets and times travel as
// decimal texts (sometimes as JSON numbers). A text that does not convert counts 0.
#pragma once

#include <cstdint>
#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Leading blanks skipped, an optional '+', then decimal digits up to the first other
// character. No digits, a '-' sign or a value beyond 64 bits give 0.
std::uint64_t parse_u64_or_zero(const std::string& text);

// A JSON number (its integer value, negatives as 0) or a decimal text as above.
std::uint64_t read_count(const Json& value);

}  // namespace vandrel
