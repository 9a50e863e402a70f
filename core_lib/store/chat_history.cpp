#include "core_lib/store/chat_history.h"

#include "core_lib/foundation/clock_random.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/chat_views.h"
#include "core_lib/store/db_session.h"

namespace vandrel {

namespace {

constexpr std::uint64_t feedback_interval_ms = 1000;

void send_feedback(const std::string& peer, const std::string& text) {
    send_to_ui(Json(Json::object{{"action", "feedback_for_peer"}, {"peer_id", peer}, {"feedback", text}}).dump());
}

}  // namespace

Json db_get_chats_with_peer(std::uint64_t start, std::string account, std::string peer) {
    store_session session;
    SQLite::Statement select(session.db(),
                             "select id from chats where (sender = ? or receiver = ?)  and account = ? order by "
                             "date_created desc limit ? offset ?;");
    SQLite::bind(select, peer, peer, account, std::to_string(chat_history_page_size), decimal(start));

    Json::array result;
    std::int64_t last = now_ms();
    int done = 0;
    while (select.executeStep()) {
        const std::int64_t now = now_ms();
        if (static_cast<std::uint64_t>(now - last) > feedback_interval_ms) {
            send_feedback(peer,
                          "loading chats..." + std::to_string(done) + "/" + std::to_string(chat_history_page_size));
            last = now;
        }
        ++done;
        result.push_back(db_get_chat_json(column_text(select, 0), session.db()));
    }
    send_feedback(peer, "");
    return Json(std::move(result));
}

}  // namespace vandrel
