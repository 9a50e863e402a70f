#include "core_lib/net/delivery/mirror_queue.h"

#include "core_lib/net/net_state.h"

namespace vandrel {

moodycamel::BlockingConcurrentQueue<Json>& mirror_queue() { return current_net::get().mirror_queue; }

}  // namespace vandrel
