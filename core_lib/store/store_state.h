// Everything the store keeps for a running core: the connection pool with db_lock, the
// settings cache, the events handed out, the service flags and the table of peer
// addresses. One instance per core, bound through current<>; the store's free functions
// reach it. Going away closes the pool (the log checkpointed into the file).
#pragma once

#include "core_lib/foundation/current.h"
#include "core_lib/store/db_pool.h"
#include "core_lib/store/events.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/settings.h"

namespace vandrel {

class store_state {
public:
    static constexpr const char* part_name = "store";

    store_state() = default;
    ~store_state();
    store_state(const store_state&) = delete;
    store_state& operator=(const store_state&) = delete;

    db_pool_state pool;
    settings_cache settings;
    event_bookkeeping events;
    service_flags flags;
    peer_address_table peers;
};

using current_store = current<store_state>;

}  // namespace vandrel
