// The one name under which a received file is stored, from any name a peer sends. The
// first byte is the byte limit (0: the default one). The safe name is never "", "." or
// "..", holds no "/", no control byte and none of < > : " \ | ? *, is well-formed UTF-8,
// stays within the limit, and is its own safe name; at the default limit the names
// derived from it (the backup names) fit a file name's 255 bytes, and the relative path
// of a received folder file keeps within its limits.
// sanitize_file_name leaves none of the forbidden characters and no "../".
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>

#include "core_lib/foundation/file_names.h"
#include "core_lib/foundation/text_utils.h"
#include "fuzz/support/fuzz_check.h"

using vandrel::fuzzing::property_broken;

namespace {

constexpr std::size_t longest_file_name = 255;
const std::string forbidden = "<>:\"\\|?*";

void check_safe(const std::string& name, const std::string& safe, std::size_t limit) {
    const std::string seen = " (from \"" + name + "\" within " + std::to_string(limit) + ")";
    if (safe.empty() || safe == "." || safe == "..") property_broken("an empty or dot name" + seen);
    if (safe.size() > limit) property_broken("over the limit" + seen);
    if (safe.find('/') != std::string::npos) property_broken("a slash" + seen);
    if (safe.find_first_of(forbidden) != std::string::npos) property_broken("a forbidden character" + seen);
    for (std::size_t i = 0; i < safe.size();) {
        const auto c = static_cast<unsigned char>(safe[i]);
        if (c < 0x20 || c == 0x7f) property_broken("a control byte" + seen);
        const std::size_t length = vandrel::utf8_char_at(safe, i);
        if (length == 0) property_broken("a byte that is not UTF-8" + seen);
        i += length;
    }
    if (vandrel::safe_file_name(safe, limit) != safe) property_broken("not its own safe name" + seen);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::size_t limit = data[0] == 0 ? vandrel::max_file_name_bytes : data[0];
    const std::string name(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string safe = vandrel::safe_file_name(name, limit);
    check_safe(name, safe, limit);
    if (limit == vandrel::max_file_name_bytes) {
        if (vandrel::backup_file_name(safe, std::numeric_limits<std::uint64_t>::max(), 9999).size() >
            longest_file_name) {
            property_broken("a derived name longer than a file name may be: " + safe);
        }
    }
    const std::string path = vandrel::safe_relative_path(name);
    if (path.size() > vandrel::max_relative_path_bytes || path.empty() || path.front() == '/' ||
        path.find("//") != std::string::npos) {
        property_broken("a relative path outside its limits: \"" + path + "\"");
    }
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string step = path.substr(start, end - start);
        if (step == "." || step == ".." || step.size() > vandrel::max_file_name_bytes) {
            property_broken("a relative path with an unsafe step: \"" + path + "\"");
        }
        start = end + 1;
    }

    const std::string sanitized = vandrel::sanitize_file_name(name);
    if (sanitized.find_first_of(forbidden) != std::string::npos || sanitized.find("../") != std::string::npos) {
        property_broken("sanitize_file_name left a forbidden part in \"" + sanitized + "\"");
    }
    return 0;
}
