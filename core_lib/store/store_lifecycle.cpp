#include "core_lib/store/store_lifecycle.h"

#include "core_lib/store/db_pool.h"
#include "core_lib/store/events.h"
#include "core_lib/store/settings.h"

namespace vandrel {

void store_shutdown() {
    db_pool_shutdown();
    settings_forget_cached();
    events_forget_handed_out();
}

}  // namespace vandrel
