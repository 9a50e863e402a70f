#include "core_lib/api/hotspot_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/api/hotspot_control.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string handle_start_hotspot(Json, std::string) { return reply_success_with({{"activated", start_hotspot()}}); }

std::string handle_stop_hotspot(Json, std::string) { return reply_success_with({{"activated", stop_hotspot()}}); }

std::string handle_get_hotspot_password(Json, std::string) {
    // A running hotspot keeps the key it was started with, whatever the alias is now.
    std::string password =
        is_hotspot_started() ? get_hotspot_passphrase() : make_hotspot_credentials(get_alias()).passphrase;
    return reply_success_with({{"password", std::move(password)}});
}

}  // namespace vandrel
