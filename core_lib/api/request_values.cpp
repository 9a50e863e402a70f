#include "core_lib/api/request_values.h"

#include <cctype>
#include <limits>

namespace vandrel {

std::uint64_t parse_u64_or_zero(const std::string& text) {
    std::size_t at = 0;
    while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    if (at < text.size() && text[at] == '+') ++at;
    std::uint64_t value = 0;
    bool any_digit = false;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        const std::uint64_t digit = static_cast<std::uint64_t>(text[at] - '0');
        if (value > (max - digit) / 10) return 0;
        value = value * 10 + digit;
        any_digit = true;
    }
    return any_digit ? value : 0;
}

std::uint64_t read_count(const Json& value) {
    if (value.is_number()) {
        const std::int64_t number = value.int64_value();
        return number < 0 ? 0 : static_cast<std::uint64_t>(number);
    }
    return parse_u64_or_zero(value.string_value());
}

}  // namespace vandrel
