#include "core_lib/api/hotspot_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/api/hotspot_control.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string handle_start_hotspot(Json, std::string) { return reply_success_with({{"activated", start_hotspot()}}); }

std::string handle_stop_hotspot(Json, std::string) { return reply_success_with({{"activated", stop_hotspot()}}); }

std::string handle_get_hotspot_password(Json, std::string) {
    return reply_success_with({{"password", get_device_hotspot_passphrase()}});
}

}  // namespace vandrel
