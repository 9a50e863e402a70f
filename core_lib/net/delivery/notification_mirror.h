// Notification mirroring: each notification "/add_notification" queues goes, as it was
// queued, to every peer in the directory that asked for this device's notifications.
#pragma once

#include "core_lib/foundation/json.h"

namespace vandrel {

// Thread body: one pass per queued notification, until the core stops.
void mirror_notification_loop();

// Posts one notification to the peers that asked for it.
void mirror_to_peers(const Json& notification);

}  // namespace vandrel
