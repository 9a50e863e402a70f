#include "core_lib/foundation/text_utils.h"

#include <sstream>
#include <stdexcept>

namespace vandrel {

void replace_all(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    std::size_t pos = 0;
    while ((pos = text.find(from, pos)) != std::string::npos) {
        text.replace(pos, from.size(), to);
        pos += to.size();
    }
}

std::string erase_all(std::string text, const std::string& pattern) {
    if (pattern.empty()) return text;
    std::size_t pos = text.find(pattern);
    while (pos != std::string::npos) {
        text.erase(pos, pattern.size());
        // Nothing before the erased match held an occurrence, so a new one can only
        // start within pattern.size() - 1 bytes before the join.
        std::size_t from = pos >= pattern.size() - 1 ? pos - (pattern.size() - 1) : 0;
        pos = text.find(pattern, from);
    }
    return text;
}

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> fields;
    if (separator.empty()) {
        fields.push_back(text);
        return fields;
    }
    std::size_t pos = 0;
    for (;;) {
        std::size_t found = text.find(separator, pos);
        if (found == std::string::npos) {
            fields.push_back(text.substr(pos));
            return fields;
        }
        fields.push_back(text.substr(pos, found - pos));
        pos = found + separator.size();
    }
}

std::string trim(std::string text) {
    std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    std::size_t last = text.find_last_not_of(' ');
    return text.substr(first, last - first + 1);
}

std::string to_lower(std::string text) {
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

bool starts_with(const std::string& text, const std::string& prefix) {
    return prefix.size() <= text.size() && text.compare(0, prefix.size(), prefix) == 0;
}

std::string join_strings(const std::vector<std::string>& items, const std::string& separator) {
    std::ostringstream out;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i != 0) out << separator;
        out << items[i];
    }
    return out.str();
}

std::string parent_folder_of_path(const std::string& path) {
    std::size_t last = path.find_last_of("/\\");
    if (last == std::string::npos) return {};
    return path.substr(0, last + 1);
}

std::string file_name_of_path(const std::string& path) {
    std::size_t last = path.find_last_of("/\\");
    if (last == std::string::npos) return path;
    return path.substr(last + 1);
}

std::size_t utf8_char_at(const std::string& text, std::size_t i, char32_t* code_out) {
    const std::size_t n = text.size();
    if (i >= n) return 0;
    const auto lead = static_cast<unsigned char>(text[i]);
    std::size_t length;
    char32_t code;
    char32_t smallest;
    if (lead < 0x80) {
        length = 1, code = lead, smallest = 0;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, smallest = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, smallest = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, smallest = 0x10000;
    } else {
        return 0;
    }
    if (n - i < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80) return 0;
        code = (code << 6) | (next & 0x3F);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (code_out) *code_out = code;
    return length;
}

std::u16string utf8_to_wstring(const std::string& text) {
    std::u16string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const std::size_t length = utf8_char_at(text, i, &code);
        // One 16-bit unit per character: nothing above U+FFFF fits.
        if (length == 0 || code > 0xFFFF) throw std::range_error("bad conversion");
        out.push_back(static_cast<char16_t>(code));
        i += length;
    }
    return out;
}

std::string cut_utf8(const std::string& text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) return text;
    std::size_t end = max_bytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    return text.substr(0, end);
}

}  // namespace vandrel
