#include "core_lib/store/ids.h"

namespace vandrel {

bool is_safe_id(const std::string& id) {
    if (id.empty()) return false;
    for (unsigned char c : id) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

}  // namespace vandrel
