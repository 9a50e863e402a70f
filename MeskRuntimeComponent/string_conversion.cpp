#include "MeskRuntimeComponent/string_conversion.h"

#include <cstddef>
#include <cstdint>

namespace vandrel {

bool is_valid_utf8(const std::string& text) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t size = text.size();
    std::size_t i = 0;
    while (i < size) {
        const unsigned char lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        std::size_t length = 0;
        std::uint32_t code = 0;
        std::uint32_t min_code = 0;
        if ((lead & 0xE0) == 0xC0) {
            length = 2, code = lead & 0x1F, min_code = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, code = lead & 0x0F, min_code = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, code = lead & 0x07, min_code = 0x10000;
        } else {
            return false;
        }
        if (size - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = bytes[i + k];
            if ((next & 0xC0) != 0x80) return false;
            code = (code << 6) | (next & 0x3F);
        }
        if (code < min_code || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
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
