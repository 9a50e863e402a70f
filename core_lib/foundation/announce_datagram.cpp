#include "core_lib/foundation/announce_datagram.h"

#include "core_lib/foundation/text_utils.h"

namespace vandrel {

std::string format_datagram(const std::string& device_id, const std::string& sys_info, const std::string& alias) {
    return device_id + "|" + sys_info + "|" + alias;
}

bool parse_datagram(const std::string& datagram, std::string& device_id, std::string& sys_info, std::string& alias) {
    std::vector<std::string> fields = split(datagram, "|");
    if (fields.size() != 3) return false;
    device_id = std::move(fields[0]);
    sys_info = std::move(fields[1]);
    alias = std::move(fields[2]);
    return true;
}

}  // namespace vandrel
