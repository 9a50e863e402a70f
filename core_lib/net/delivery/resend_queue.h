// The resend loop's wake-up queue: each `true` pushed asks the loop to deliver the
// chats not yet marked sent. Pushing never blocks; the loop is the only consumer.
#pragma once

#include <blockingconcurrentqueue.h>

namespace vandrel {

// The running core's queue.
moodycamel::BlockingConcurrentQueue<bool>& resend_queue();

// One wake-up for the resend loop.
void trigger_resend();

}  // namespace vandrel
