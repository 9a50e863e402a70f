#include "core_lib/store/store_state.h"

namespace vandrel {

store_state::~store_state() {
    // Nobody else uses the pool any more: the core joined its threads first.
    std::lock_guard<std::mutex> lock(pool.mutex);
    close_idle_connections(pool);
}

}  // namespace vandrel
