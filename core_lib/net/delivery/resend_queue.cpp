#include "core_lib/net/delivery/resend_queue.h"

#include "core_lib/net/net_state.h"

namespace vandrel {

moodycamel::BlockingConcurrentQueue<bool>& resend_queue() { return current_net::get().resend_queue; }

void trigger_resend() { resend_queue().enqueue(true); }

}  // namespace vandrel
