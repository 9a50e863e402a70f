#include "core_lib/foundation/file_names.h"

#include <algorithm>

#include "core_lib/foundation/sha256.h"
#include "core_lib/foundation/text_utils.h"

namespace vandrel {

namespace {

// Drops control bytes and replaces each byte that starts no well-formed character by "_".
std::string printable_utf8(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size();) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            ++i;
            continue;
        }
        const std::size_t length = utf8_char_at(text, i);
        if (length == 0) {
            out += '_';
            ++i;
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}

constexpr std::size_t max_kept_extension_bytes = 32;

}  // namespace

std::string sanitize_file_name(std::string name) {
    for (const char* forbidden : {"<", ">", ":", "\"", "\\", "|", "?", "*"}) name = erase_all(name, forbidden);
    return erase_all(name, "../");
}

std::string safe_file_name(const std::string& name, std::size_t max_bytes) {
    std::string clean = sanitize_file_name(name);
    const auto slash = clean.rfind('/');
    if (slash != std::string::npos) clean = clean.substr(slash + 1);
    clean = printable_utf8(clean);
    if (clean.empty() || clean == "." || clean == "..") clean = "file";
    if (to_lower(clean) == partial_folder_name) clean = "_" + clean;
    if (clean.size() <= max_bytes) return clean;

    const auto dot = clean.rfind('.');
    const bool has_extension = dot != std::string::npos && dot > 0 && clean.size() - dot <= max_kept_extension_bytes &&
                               clean.size() - dot < max_bytes;
    std::string cut;
    if (has_extension) {
        const std::string extension = clean.substr(dot);
        const std::string stem = cut_utf8(clean.substr(0, dot), max_bytes - extension.size());
        if (!stem.empty()) cut = stem + extension;
    }
    if (cut.empty()) cut = cut_utf8(clean, max_bytes);
    if (cut.empty() || cut == "." || cut == "..") cut = cut_utf8("file", max_bytes);
    return cut;
}

std::string file_extension_of(const std::string& name) {
    const auto dot = name.rfind('.');
    // A derived name must fit a file name's 255 bytes whatever the extension is.
    return cut_utf8(dot == std::string::npos ? name : name.substr(dot + 1), max_kept_extension_bytes);
}

std::string safe_folder_path(const std::string& name) {
    const std::string file = safe_file_name(name);
    const auto slash = name.rfind('/');
    if (slash == std::string::npos) return "";
    std::string folders;
    std::size_t start = 0;
    while (start < slash) {
        const std::size_t end = std::min(name.find('/', start), slash);
        const std::string step = name.substr(start, end - start);
        start = end + 1;
        // The same rule as for the name, so no step is "..", absolute or split.
        const std::string clean = printable_utf8(sanitize_file_name(step));
        if (clean.empty() || clean == "." || clean == "..") continue;
        const std::string safe = safe_file_name(step);
        const std::size_t grown = folders.size() + (folders.empty() ? 0 : 1) + safe.size();
        if (grown + 1 + file.size() > max_relative_path_bytes) break;
        folders += (folders.empty() ? "" : "/") + safe;
    }
    return folders;
}

std::string safe_relative_path(const std::string& name) {
    const std::string folders = safe_folder_path(name);
    return folders.empty() ? safe_file_name(name) : folders + "/" + safe_file_name(name);
}

std::string partial_file_name(const std::string& file_id) { return sha256_hex(file_id); }

std::string backup_file_name(const std::string& safe_name, std::uint64_t size, unsigned attempt) {
    const std::string count = attempt == 0 ? "" : "_" + std::to_string(attempt);
    return safe_name + ".mesk_backup_" + std::to_string(size) + count + "." + file_extension_of(safe_name);
}

}  // namespace vandrel
