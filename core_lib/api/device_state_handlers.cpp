#include "core_lib/api/device_state_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/shared_pending.h"

namespace vandrel {

std::string reply_success_handler(Json, std::string) { return reply_success(); }

std::string handle_who_am_i(Json, std::string) {
    // Read in this order: the alias, the model, the id.
    std::string alias = get_alias();
    std::string sys_info = get_device_model();
    return reply_success_with(
        {{"alias", std::move(alias)}, {"sys_info", std::move(sys_info)}, {"device_id", get_userid()}});
}

std::string handle_local_ips(Json, std::string) {
    Json::array ips;
    for (std::string& ip : get_local_ips()) ips.emplace_back(std::move(ip));
    return reply_success_with({{"local_ips", std::move(ips)}});
}

std::string handle_clear_unread(Json params, std::string) {
    db_mark_device_read(params["id"].string_value());
    return reply_success();
}

std::string handle_change_send_notifications(Json params, std::string) {
    db_set_device_send_notifications(params["send_notifications"].int_value(), params["id"].string_value());
    return reply_success();
}

std::string handle_turn_on_accessibility(Json, std::string) {
    send_to_ui(Json(Json::object{{"action", "turn_on_accessibility"}}).dump());
    return reply_success();
}

std::string handle_wake_up(Json, std::string) {
    const Json pending(db_get_pending_files());
    if (!pending.array_items().empty()) {
        send_to_ui(Json(Json::object{{"action", "pending_files_updated"}, {"files", pending}}).dump());
    }
    return reply_success();
}

}  // namespace vandrel
