#include "core_lib/net/resend_queue.h"

namespace vandrel {

moodycamel::BlockingConcurrentQueue<bool> resend_queue;

void trigger_resend() { resend_queue.enqueue(true); }

}  // namespace vandrel
