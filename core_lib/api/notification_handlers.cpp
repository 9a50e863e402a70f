#include "core_lib/api/notification_handlers.h"

#include <vector>

#include "core_lib/api/api_origin.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/api/chat_pipeline.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/delivery/mirror_queue.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

// "" when every text of a notification is within the limit a peer keeps; else the code.
std::string check_notification_texts(const std::vector<const std::string*>& texts) {
    for (const std::string* text : texts) {
        if (text->size() > limits::notification_text_bytes) return error_too_long;
    }
    return "";
}

}  // namespace

std::string mirror_text(const std::string& title, const std::string& description) {
    return "App: " + title + "\n" + description;
}

namespace {

std::string shown_alias(const std::string& device_id, const std::string& given, bool local) {
    const Json device = db_get_device(device_id);
    std::string stored = device.is_null() ? std::string() : device["alias"].string_value();
    if (!stored.empty()) return stored;
    return local ? given : device_id;
}

}  // namespace

std::string handle_add_notification(Json params, std::string) {
    const std::string& title = params["title"].string_value();
    const std::string& description = params["description"].string_value();
    const std::string alias = get_alias();
    // Every peer would refuse it: refused here, before it is queued.
    const std::string refusal = check_notification_texts({&title, &description, &alias});
    if (!refusal.empty()) return reply_error_code(refusal);
    mirror_queue().enqueue(Json(Json::object{
        {"title", title}, {"description", description}, {"device_id", get_userid()}, {"device_alias", alias}}));
    return reply_success();
}

std::string handle_mirror_notification(Json params, std::string origin) {
    const std::string& title = params["title"].string_value();
    const std::string& description = params["description"].string_value();
    const std::string& given_alias = params["device_alias"].string_value();
    const std::string& device_id = params["device_id"].string_value();
    if (!is_local_origin(origin)) {
        const std::string refusal = check_notification_texts({&title, &description, &given_alias});
        if (!refusal.empty()) return reply_error_code(refusal);
    }
    const std::string text = mirror_text(title, description);
    Json chat(Json::object{{"id", random_string()},
                           {"sender", device_id},
                           {"receiver", get_userid()},
                           {"type", "text"},
                           {"text", text},
                           {"data", text}});
    // Nothing is shown for a notice that would not be kept.
    const std::string refusal = check_chat_request(chat, origin);
    if (!refusal.empty()) {
        return Json(Json::object{{"error_code", refusal}, {"id", chat["id"]}, {"status", "error"}}).dump();
    }
    // A peer names itself by the alias stored for its proven id: the body's alias could
    // be anyone's.
    const std::string alias = shown_alias(device_id, given_alias, is_local_origin(origin));
    send_to_ui(
        Json(Json::object{
                 {"action", "mirror_notification"}, {"title", title}, {"description", description}, {"alias", alias}})
            .dump());
    show_toast(alias, text);
    return handle_create_chat(std::move(chat), std::move(origin));
}

}  // namespace vandrel
