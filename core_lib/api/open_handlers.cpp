#include "core_lib/api/open_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string handle_open_folder(Json params, std::string) {
    open_folder(params["folder"].string_value());
    return reply_success();
}

std::string handle_open_file(Json params, std::string) {
    open_file(params["file"].string_value());
    return reply_success();
}

std::string handle_reset_downloads_folder(Json, std::string) {
    set_downloads_folder("");
    return reply_success();
}

}  // namespace vandrel
