#include "core_lib/net/delivery/notification_mirror.h"

#include <exception>
#include <iostream>

#include "core_lib/net/delivery/mirror_queue.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/peer_addresses.h"

namespace vandrel {

void mirror_to_peers(const Json& notification) {
    const std::string body = notification.dump();
    for (const std::string& peer : seen_peer_ids()) {
        if (core_stopping()) return;
        if (db_get_device_send_notifications(peer)) post_to_peer_api(peer, "/mirror_notification", body);
    }
}

void mirror_notification_loop() {
    moodycamel::BlockingConcurrentQueue<Json>& queue = mirror_queue();
    while (!core_stopping()) {
        Json notification;
        // Asleep until a wake-up; the stop pushes one too.
        queue.wait_dequeue(notification);
        if (core_stopping()) return;
        // The stop's wake-up is null; a notification is an object.
        if (!notification.is_object()) continue;
        // A failing store loses this notification (there is no retry), not the loop.
        try {
            mirror_to_peers(notification);
        } catch (const std::exception& e) {
            std::cerr << "notification mirror failed: " << e.what() << "\n";
        }
    }
}

}  // namespace vandrel
