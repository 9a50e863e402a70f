// The LAN announce text: device id, system information and alias joined by '|',
// unescaped. Valid exactly when it splits into three fields (which may be empty).
#pragma once

#include <string>

namespace vandrel {

// id + "|" + sys_info + "|" + alias; a '|' inside a field makes the text invalid.
std::string format_datagram(const std::string& device_id, const std::string& sys_info, const std::string& alias);

// True and the three outputs set when the text has exactly three fields; otherwise
// false and the outputs left as they were. Fields are neither trimmed nor checked.
bool parse_datagram(const std::string& datagram, std::string& device_id, std::string& sys_info, std::string& alias);

}  // namespace vandrel
