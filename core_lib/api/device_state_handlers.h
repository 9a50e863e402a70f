// Small endpoints on this device's identity and addresses, a peer's stored state
// (unread count, notification mirroring) and nudges to the interface. None fails.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

// "/hello_world", "/show_file_picker", "/scan_wifi", "/join_mesk_network".
std::string reply_success_handler(Json params, std::string origin);
std::string handle_who_am_i(Json params, std::string origin);
std::string handle_local_ips(Json params, std::string origin);
std::string handle_clear_unread(Json params, std::string origin);
std::string handle_change_send_notifications(Json params, std::string origin);
std::string handle_turn_on_accessibility(Json params, std::string origin);
std::string handle_wake_up(Json params, std::string origin);

}  // namespace vandrel
