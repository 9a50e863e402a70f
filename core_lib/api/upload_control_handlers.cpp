#include "core_lib/api/upload_control_handlers.h"

#include <vector>

#include "core_lib/api/api_reply.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/net/transfer/transfer_slots.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/chat_views.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/uploads.h"

namespace vandrel {

namespace {

constexpr int file_page_size = 1000;

std::vector<std::string> file_ids_of_upload(const std::string& upload_id) {
    std::vector<std::string> ids;
    for (int page = 0;; ++page) {
        const Json entries = db_get_upload_file_urls(upload_id, file_page_size, page);
        for (const Json& entry : entries.array_items()) ids.push_back(entry["id"].string_value());
        if (entries.array_items().size() < static_cast<std::size_t>(file_page_size)) break;
    }
    return ids;
}

// The receiving peer, from the upload's own file rows (they outlive an erased chat);
// the chat's receiver for an upload without files.
std::string receiver_of_upload(const std::vector<std::string>& file_ids, const std::string& upload_id) {
    if (!file_ids.empty()) return db_get_file_to_send(file_ids.front())["receiver"].string_value();
    return db_get_chat_receiver(upload_id);
}

}  // namespace

std::string handle_resend(Json params, std::string) {
    const std::string& id = params["id"].string_value();
    db_set_upload_status(id, "");
    db_reset_upload_for_resend(id);
    const std::vector<std::string> file_ids = file_ids_of_upload(id);
    stopped_upload_id().remove(id);
    for (const std::string& file_id : file_ids) paused_file_id().remove(file_id);

    const std::string receiver = receiver_of_upload(file_ids, id);
    std::string reply = reply_success();
    if (receiver.empty() || get_peer_ip(receiver).empty()) reply = reply_error_message(error_not_same_wifi);
    trigger_resend();
    return reply;
}

std::string handle_pause_file_upload(Json params, std::string) {
    const std::string& file_id = params["id"].string_value();
    // The slot first: a running answer is cut at its next piece, and a new request then
    // finds the file paused.
    paused_file_id().add(file_id);
    db_set_file_to_send_status(file_id, params["chat_id"].string_value(), "paused");
    return reply_success();
}

std::string handle_pause_upload(Json params, std::string) {
    const std::string& id = params["id"].string_value();
    stopped_upload_id().add(id);
    db_set_upload_status(id, "paused");
    return reply_success();
}

std::string handle_resume_file_upload(Json params, std::string origin) {
    const std::string& file_id = params["id"].string_value();
    const std::string& upload_id = params["chat_id"].string_value();
    show_toast("resume_file_upload", file_id);
    db_set_file_to_send_status(file_id, upload_id, "");
    paused_file_id().remove(file_id);
    handle_resend(Json::object{{"id", upload_id}}, std::move(origin));
    return reply_success();
}

std::string handle_resume_upload(Json params, std::string origin) {
    const std::string& upload_id = params["chat_id"].string_value();
    db_set_upload_status(upload_id, "");
    handle_resend(Json::object{{"id", upload_id}}, std::move(origin));
    return reply_success();
}

}  // namespace vandrel
