// Notification mirroring: "/add_notification" queues one of this device's
// notifications for the mirror loop (a text over the 4 KiB that peers keep is refused
// with "too_long", as a peer would); "/mirror_notification" shows a peer's mirrored
// notification under the alias stored for the proven sender (never the one its body
// names) and keeps it as an incoming text chat from that peer.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_add_notification(Json params, std::string origin);
std::string handle_mirror_notification(Json params, std::string origin);

// "App: " + title + "\n" + description: the toast text and the stored chat text.
std::string mirror_text(const std::string& title, const std::string& description);

}  // namespace vandrel
