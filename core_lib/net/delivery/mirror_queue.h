// Notifications to mirror to peers: "/add_notification" pushes one object per call
// ({"title", "description", "device_id", "device_alias"}); the mirror loop takes them.
// Pushing never blocks.
#pragma once

#include <blockingconcurrentqueue.h>

#include "core_lib/foundation/json.h"

namespace vandrel {

// The running core's queue.
moodycamel::BlockingConcurrentQueue<Json>& mirror_queue();

}  // namespace vandrel
