#include "core_lib/api/settings_handlers.h"

#include "core_lib/api/api_origin.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string handle_new_settings(Json params, std::string origin) {
    // The interface's, and the self test's, which checks that the alias changes.
    if (!is_local_origin(origin)) return "";
    const std::string& alias = params["alias"].string_value();
    if (!alias.empty()) set_alias(alias);
    const std::string& code = params["webshare_password"].string_value();
    if (!code.empty()) set_webshare_password(code);
    return reply_success();
}

std::string handle_get_avatar(Json, std::string) { return reply_success_with({{"avatar", get_avatar()}}); }

std::string handle_os(Json, std::string) {
    return reply_success_with({{"os", platform_name()}, {"version", app_version()}});
}

}  // namespace vandrel
