#include "core_lib/net/delivery/resend_loop.h"

#include <exception>
#include <iostream>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/foundation/text_utils.h"
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
constexpr unsigned delivery_workers = 16;

resend_deliveries& deliveries() { return current_net::get().deliveries; }

Json parse_answer(const std::string& answer) {
    std::string err;
    return Json::parse(answer, err);
}

bool accepted(const Json& reply) { return reply["status"].is_string() && reply["status"].string_value() == "success"; }

bool accepted(const std::string& answer) { return accepted(parse_answer(answer)); }

// The peer's error code when it refused the chat for good, else "".
std::string final_refusal(const Json& reply) {
    if (!reply["status"].is_string() || reply["status"].string_value() != "error") return "";
    const std::string& code = reply["error_code"].string_value();
    return refused_for_good(code) ? code : "";
}

void tell_sent(const std::string& chat_id) {
    send_to_ui(Json(Json::object{{"action", "mark_chat_as_sent"}, {"id", chat_id}}).dump());
}

void mark_failed(const std::string& chat_id, const std::string& peer, const std::string& code) {
    std::cerr << "chat " << chat_id << " refused by " << peer << ": " << code << "\n";
    db_mark_chat_failed(chat_id);
    send_to_ui(
        Json(Json::object{{"action", "chat_failed"}, {"chat_id", chat_id}, {"device_id", peer}, {"error_code", code}})
            .dump());
}

std::string post(const std::string& peer, const std::string& endpoint, const std::string& body) {
    return post_to_peer_api(peer, endpoint, body, default_answer_limit, resend_call_time);
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
            const std::string answer = post(peer, "/create_chat", body.dump());
            const Json reply = parse_answer(answer);
            if (accepted(reply)) {
                db_mark_chat_sent(chat["id"].string_value());
                tell_sent(chat["id"].string_value());
                progress = true;
            } else if (const std::string code = final_refusal(reply); !code.empty()) {
                mark_failed(chat["id"].string_value(), peer, code);
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
            const std::string answer = post(peer, "/create_chat", offer.dump());
            const Json reply = parse_answer(answer);
            if (accepted(reply)) {
                std::vector<std::string> ids;
                ids.reserve(files.size());
                for (const Json& file : files) ids.push_back(file["id"].string_value());
                db_mark_file_to_send_sent(ids);
                progress = true;
            } else if (const std::string code = final_refusal(reply); !code.empty()) {
                mark_failed(id, peer, code);
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
        if (!accepted(post(peer, "/completed_downloads", notice.dump()))) return;
        db_set_files_to_receive_status("complete_sent", rows);
    }
}

// On the pool: passes for the peer until none more was asked while one ran.
void run_deliveries(const std::string& peer) {
    resend_deliveries& d = deliveries();
    for (;;) {
        if (!core_stopping()) {
            // A failing store ends this peer's pass, not the loop: what is unsent stays
            // for the next wake-up.
            try {
                resend_unsent(peer);
            } catch (const std::exception& e) {
                std::cerr << "resend to " << peer << " failed: " << e.what() << "\n";
            }
        }
        std::lock_guard<std::mutex> lock(d.mutex);
        auto it = d.running.find(peer);
        if (it == d.running.end() || !it->second || core_stopping()) {
            if (it != d.running.end()) d.running.erase(it);
            return;
        }
        it->second = false;
    }
}

// A pass for the peer, or, while one runs, another after it.
void start_deliveries(const std::string& peer) {
    resend_deliveries& d = deliveries();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        auto [it, fresh] = d.running.try_emplace(peer, false);
        if (!fresh) {
            it->second = true;
            return;
        }
    }
    std::string name = "resend to " + peer;
    std::function<void()> job = [peer] { run_deliveries(peer); };
    if (d.pool.push(name, job)) return;
    std::lock_guard<std::mutex> lock(d.mutex);
    d.running.erase(peer);
}

}  // namespace

resend_deliveries::resend_deliveries() : pool(delivery_workers, limits::known_peers + 1) {}

bool refused_for_good(const std::string& error_code) {
    // Codes that name a limit or a malformed part of the chat; "forbidden" (a claim not
    // proven yet), "busy" and "internal_error" may pass.
    return error_code == "id_taken" || starts_with(error_code, "too_") || starts_with(error_code, "invalid_") ||
           starts_with(error_code, "empty_");
}

void resend_loop() {
    moodycamel::BlockingConcurrentQueue<bool>& queue = resend_queue();
    bool held = false;
    while (!core_stopping()) {
        bool wake = false;
        // Asleep until a wake-up (the stop pushes one too), or, while a newcomer's
        // wake-up is held back, until its pause is over.
        bool got = true;
        if (held) {
            got = queue.wait_dequeue_timed(wake, newcomer_wake_pause);
        } else {
            queue.wait_dequeue(wake);
        }
        if (core_stopping()) return;
        if (got && !wake) {
            held = true;
            continue;
        }
        if (!got && !held_newcomer_wake_due()) {
            held = newcomer_wake_held();
            continue;
        }
        // Wake-ups that came meanwhile are served by this pass.
        while (queue.try_dequeue(wake)) {}
        held = newcomer_wake_held();
        for (const std::string& peer : transfer_peer_ids()) {
            if (core_stopping()) return;
            start_deliveries(peer);
        }
    }
}

void resend_unsent(std::string peer) {
    std::cerr << "sending unsent chats to " << peer << "\n";
    deliver_texts(peer);
    if (deliver_offers(peer)) deliver_completion_notices(peer);
}

void check_peer_connection(std::string peer) {
    const std::string answer = post(peer, "/ping", Json(Json::object{{"device_id", get_userid()}}).dump());
    const Json reply = parse_answer(answer);
    if (reply["remote_id"].is_string() && !reply["remote_id"].string_value().empty()) return;
    notify_peers_updated(peer);
    send_to_ui(
        Json(Json::object{{"action", "feedback_for_peer"}, {"peer_id", peer}, {"feedback", "Disconnected"}}).dump());
}

}  // namespace vandrel
