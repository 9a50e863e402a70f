#include "core_lib/api/startup_toggle_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string handle_toggle_run_on_startup(Json, std::string) {
    set_run_on_startup(!get_run_on_startup());
    return reply_success();
}

std::string handle_toggle_run_wifi_direct_on_startup(Json, std::string) {
    set_run_wifi_direct_on_startup(!get_run_wifi_direct_on_startup());
    return reply_success();
}

std::string handle_toggle_run_web_share_on_startup(Json, std::string) {
    set_run_web_share_on_startup(!get_run_web_share_on_startup());
    return reply_success();
}

std::string handle_toggle_run_web_mode(Json, std::string) {
    set_web_mode(!is_web_mode_running());
    return reply_success();
}

}  // namespace vandrel
