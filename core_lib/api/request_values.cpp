#include "core_lib/api/request_values.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace vandrel {

namespace {

struct decimal_digits {
    std::uint64_t value = 0;
    bool any_digit = false;
    bool overflow = false;
};

// The digits after leading blanks and an optional '+'; stops at the first other
// character. A '-' is no digit, so a negative text has none.
decimal_digits read_digits(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (at < text.size() && text[at] == '+') ++at;
    decimal_digits result;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        result.any_digit = true;
        const std::uint64_t digit = static_cast<std::uint64_t>(text[at] - '0');
        if (result.overflow || result.value > (max - digit) / 10) {
            result.overflow = true;
            continue;
        }
        result.value = result.value * 10 + digit;
    }
    return result;
}

}  // namespace

std::uint64_t parse_u64_or_zero(const std::string& text) {
    const decimal_digits digits = read_digits(text);
    return digits.any_digit && !digits.overflow ? digits.value : 0;
}

std::uint64_t read_count(const Json& value) {
    if (value.is_number()) {
        const std::int64_t number = value.int64_value();
        return number < 0 ? 0 : static_cast<std::uint64_t>(number);
    }
    return parse_u64_or_zero(value.string_value());
}

std::uint64_t read_offset(const Json& value) {
    // int64_value clamps a number too large for 64 bits to the largest offset.
    if (value.is_number()) return read_count(value);
    const decimal_digits digits = read_digits(value.string_value());
    if (!digits.any_digit) return 0;
    return digits.overflow ? largest_offset : std::min(digits.value, largest_offset);
}

bool is_byte_count(const std::string& text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value <= largest_offset;
}

}  // namespace vandrel
