#include "core_lib/platform/string_conversion.h"

#include <cstddef>

#include "core_lib/foundation/text_utils.h"

namespace vandrel {

bool is_valid_utf8(const std::string& text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = utf8_char_at(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string cut_at_first_nul(std::string text) {
    const auto nul = text.find('\0');
    if (nul != std::string::npos) text.resize(nul);
    return text;
}

std::optional<std::string> text_for_ui(std::string text) {
    text = cut_at_first_nul(std::move(text));
    if (!is_valid_utf8(text)) return std::nullopt;
    return text;
}

}  // namespace vandrel
