#include "core_lib/store/chat_history.h"

#include <algorithm>
#include <limits>
#include <vector>

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

// Sends the closing event when the call ends, whichever way: the interface must not
// stay on a progress text. Declared before any store_session, so it runs after the
// lock is released.
class closing_feedback {
public:
    explicit closing_feedback(const std::string& peer) : peer_(peer) {}
    ~closing_feedback() { send_feedback(peer_, ""); }
    closing_feedback(const closing_feedback&) = delete;
    closing_feedback& operator=(const closing_feedback&) = delete;

private:
    const std::string& peer_;
};

std::vector<chat_view_rows> read_page(std::uint64_t start, const std::string& account, const std::string& peer) {
    const auto offset = static_cast<std::int64_t>(
        std::min<std::uint64_t>(start, static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())));
    store_session session;
    SQLite::Statement select(session.db(),
                             "select id from chats where (sender = ? or receiver = ?)  and account = ? order by "
                             "date_created desc limit ? offset ?;");
    SQLite::bind(select, peer, peer, account, chat_history_page_size, offset);
    std::vector<chat_view_rows> rows;
    while (select.executeStep()) rows.push_back(db_read_chat_view_rows(column_text(select, 0), session.db()));
    return rows;
}

}  // namespace

Json db_get_chats_with_peer(std::uint64_t start, std::string account, std::string peer) {
    const closing_feedback closing(peer);
    std::int64_t last = now_ms();
    const std::vector<chat_view_rows> rows = read_page(start, account, peer);

    Json::array result;
    int done = 0;
    for (const chat_view_rows& chat : rows) {
        const std::int64_t now = now_ms();
        if (static_cast<std::uint64_t>(now - last) > feedback_interval_ms) {
            send_feedback(peer,
                          "loading chats..." + std::to_string(done) + "/" + std::to_string(chat_history_page_size));
            last = now;
        }
        ++done;
        result.push_back(chat_view_json(chat));
    }
    return Json(std::move(result));
}

}  // namespace vandrel
