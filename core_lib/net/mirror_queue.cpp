#include "core_lib/net/mirror_queue.h"

namespace vandrel {

moodycamel::BlockingConcurrentQueue<Json> mirror_queue;

}  // namespace vandrel
