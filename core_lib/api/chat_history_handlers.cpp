#include "core_lib/api/chat_history_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/api/request_values.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/chat_history.h"
#include "core_lib/store/chats.h"

namespace vandrel {

namespace {

void send_feedback(const std::string& peer, const std::string& feedback) {
    send_to_ui(Json(Json::object{{"action", "feedback_for_peer"}, {"feedback", feedback}, {"peer_id", peer}}).dump());
}

// "loading chats... " now, the empty text when the request ends, answered or failed:
// the interface must not stay on "loading chats...".
class loading_feedback {
public:
    explicit loading_feedback(const std::string& peer) : peer_(peer) { send_feedback(peer_, "loading chats... "); }
    ~loading_feedback() { send_feedback(peer_, ""); }
    loading_feedback(const loading_feedback&) = delete;
    loading_feedback& operator=(const loading_feedback&) = delete;

private:
    const std::string& peer_;
};

}  // namespace

std::string handle_get_chats_for_peer(Json params, std::string) {
    const std::uint64_t start = read_offset(params["start"]);
    const std::string& account = params["account"].string_value();
    const std::string& peer = params["peer"].string_value();
    Json chats;
    {
        const loading_feedback feedback(peer);
        chats = db_get_chats_with_peer(start, account, peer);
    }
    return reply_success_with({{"chats", std::move(chats)}});
}

std::string handle_erase_chats_for_peer(Json params, std::string) {
    const std::string& peer = params["peer"].string_value();
    db_delete_chats_with_peer(peer);
    // Erasing a peer also forgets its key: the next key it shows is trusted anew.
    forget_peer_key(peer);
    return reply_success();
}

}  // namespace vandrel
