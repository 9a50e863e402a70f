#include "core_lib/net/delivery/resend_loop.h"

#include <exception>
#include <iostream>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/uploads.h"

namespace vandrel {

namespace {

constexpr int files_per_notice = 1000;

bool accepted(const std::string& answer) {
    std::string err;
    const Json reply = Json::parse(answer, err);
    return reply["status"].is_string() && reply["status"].string_value() == "success";
}

void tell_sent(const std::string& chat_id) {
    send_to_ui(Json(Json::object{{"action", "mark_chat_as_sent"}, {"id", chat_id}}).dump());
}

void deliver_texts(const std::string& peer) {
    for (;;) {
        const std::vector<Json> batch = db_get_unsent_chats(peer, "text");
        if (batch.empty()) return;
        bool progress = false;
        for (const Json& chat : batch) {
            if (core_stopping()) return;
            const Json body(Json::object{{"type", chat["type"]},
                                         {"sender", chat["sender"]},
                                         {"receiver", chat["receiver"]},
                                         {"data", chat["data"]},
                                         {"id", chat["id"]}});
            const std::string answer = post_to_peer_api(peer, "/create_chat", body.dump());
            if (accepted(answer)) {
                db_mark_chat_sent(chat["id"].string_value());
                tell_sent(chat["id"].string_value());
                progress = true;
            } else if (answer.empty()) {
                check_peer_connection(peer);
                // Forgotten: the rest waits for its next sighting.
                if (get_peer_ip(peer).empty()) return;
            }
        }
        if (!progress) return;
    }
}

// false when the core stops; a peer that does not answer an offer ends only this step.
bool deliver_offers(const std::string& peer) {
    for (;;) {
        const std::vector<Json> batch = db_get_unsent_chats(peer, "upload");
        if (batch.empty()) return true;
        bool progress = false;
        for (const Json& chat : batch) {
            if (core_stopping()) return false;
            const std::string& id = chat["id"].string_value();
            const std::vector<Json> files = db_get_unsent_files_of_upload(id);
            if (files.empty()) {
                db_mark_chat_sent(id);
                tell_sent(id);
                progress = true;
                continue;
            }
            const Json offer(Json::object{{"type", "download"},
                                          {"sender", chat["sender"]},
                                          {"receiver", chat["receiver"]},
                                          {"id", id},
                                          {"data", Json::object{{"files", Json::array(files.begin(), files.end())}}}});
            const std::string answer = post_to_peer_api(peer, "/create_chat", offer.dump());
            if (accepted(answer)) {
                std::vector<std::string> ids;
                ids.reserve(files.size());
                for (const Json& file : files) ids.push_back(file["id"].string_value());
                db_mark_file_to_send_sent(ids);
                progress = true;
            } else if (answer.empty()) {
                return true;
            }
        }
        if (!progress) return true;
    }
}

void deliver_completion_notices(const std::string& peer) {
    for (;;) {
        if (core_stopping()) return;
        const std::vector<Json> rows = db_get_files_to_receive(peer, "complete", files_per_notice);
        if (rows.empty()) return;
        const Json notice(Json::object{{"files", Json::array(rows.begin(), rows.end())}});
        if (!accepted(post_to_peer_api(peer, "/completed_downloads", notice.dump()))) return;
        db_set_files_to_receive_status("complete_sent", rows);
    }
}

}  // namespace

void resend_loop() {
    moodycamel::BlockingConcurrentQueue<bool>& queue = resend_queue();
    while (!core_stopping()) {
        bool wake = false;
        // Asleep until a wake-up; the stop pushes one too.
        queue.wait_dequeue(wake);
        if (core_stopping()) return;
        for (const std::string& peer : transfer_peer_ids()) {
            if (core_stopping()) return;
            // A failing store ends this peer's pass, not the loop: what is unsent stays
            // for the next wake-up.
            try {
                resend_unsent(peer);
            } catch (const std::exception& e) {
                std::cerr << "resend to " << peer << " failed: " << e.what() << "\n";
            }
        }
    }
}

void resend_unsent(std::string peer) {
    std::cerr << "sending unsent chats to " << peer << "\n";
    deliver_texts(peer);
    if (deliver_offers(peer)) deliver_completion_notices(peer);
}

void check_peer_connection(std::string peer) {
    const std::string answer = post_to_peer_api(peer, "/ping", Json(Json::object{{"device_id", get_userid()}}).dump());
    std::string err;
    const Json reply = Json::parse(answer, err);
    if (reply["remote_id"].is_string() && !reply["remote_id"].string_value().empty()) return;
    notify_peers_updated(peer);
    send_to_ui(
        Json(Json::object{{"action", "feedback_for_peer"}, {"peer_id", peer}, {"feedback", "Disconnected"}}).dump());
}

}  // namespace vandrel
