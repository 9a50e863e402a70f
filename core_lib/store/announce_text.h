// This device's LAN announce text: its id, system text and alias joined by '|'. A '|'
// inside the system text or the alias is dropped, so the text always has three fields.
#pragma once

#include <string>

namespace vandrel {

// Calls get_userid, get_device_model and get_alias, in this order.
std::string make_datagram();

}  // namespace vandrel
