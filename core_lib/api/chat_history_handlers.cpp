#include "core_lib/api/chat_history_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/api/request_values.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/chat_history.h"
#include "core_lib/store/chats.h"

namespace vandrel {

namespace {

void send_feedback(const std::string& peer, const std::string& feedback) {
    send_to_ui(Json(Json::object{{"action", "feedback_for_peer"}, {"feedback", feedback}, {"peer_id", peer}}).dump());
}

}  // namespace

std::string handle_get_chats_for_peer(Json params, std::string) {
    const std::uint64_t start = read_count(params["start"]);
    const std::string& account = params["account"].string_value();
    const std::string& peer = params["peer"].string_value();
    send_feedback(peer, "loading chats... ");
    Json chats = db_get_chats_with_peer(start, account, peer);
    send_feedback(peer, "");
    return reply_success_with({{"chats", std::move(chats)}});
}

std::string handle_erase_chats_for_peer(Json params, std::string) {
    db_delete_chats_with_peer(params["peer"].string_value());
    return reply_success();
}

}  // namespace vandrel
