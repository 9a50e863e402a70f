#include "core_lib/api/chat_pipeline.h"

#include <cstdint>
#include <utility>
#include <vector>

#include "core_lib/api/api_origin.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/api/request_values.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/file_names.h"
#include "core_lib/foundation/mime_types.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/analytics_events.h"
#include "core_lib/store/chat_views.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/ids.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/uploads.h"

namespace vandrel {

namespace {

// Every chat and transfer stored here belongs to no account.
const std::string no_account;

struct chat_fields {
    std::string id;
    std::string sender;
    std::string receiver;
    std::string type;
};

chat_fields read_fields(const Json& chat) {
    return {trim(chat["id"].string_value()), trim(chat["sender"].string_value()), trim(chat["receiver"].string_value()),
            chat["type"].string_value()};
}

struct file_totals {
    std::uint64_t count = 0;
    std::uint64_t bytes = 0;
    std::string last_mime_type;

    void add(const Json& entry) {
        ++count;
        bytes += parse_u64_or_zero(entry["filesize"].string_value());
        last_mime_type = mime_type_for(entry["filename"].string_value());
    }
};

// The download's entries as this device keeps them: a clean name and a local target
// in place of the sender's location. Tells the interface how far it got on long lists.
Json::array prepare_download_entries(const Json::array& received, const std::string& peer_id, std::int64_t started,
                                     file_totals& totals) {
    Json::array entries;
    entries.reserve(received.size());
    std::int64_t last_notice = started;
    const std::size_t total = received.size();
    for (std::size_t i = 0; i < total; ++i) {
        const std::int64_t now = now_ms();
        if (now - last_notice > 1000) {
            send_to_ui(Json(Json::object{{"action", "feedback_for_peer"},
                                         {"peer_id", peer_id},
                                         {"feedback", "Processing download: " + std::to_string(i + 1) + "/" +
                                                          std::to_string(total)}})
                           .dump());
            last_notice = now;
        }
        const Json& entry = received[i];
        const std::string& file_name = entry["filename"].string_value();
        entries.push_back(Json::object{{"filename", safe_relative_path(file_name)},
                                       {"filesize", entry["filesize"].string_value()},
                                       {"fileurl", download_target_for_file(file_name)},
                                       {"isDirectory", entry["isDirectory"].string_value()},
                                       {"id", entry["id"].string_value()}});
        totals.add(entry);
    }
    return entries;
}

// "" when every offered file is within the limits; else the error code.
std::string check_offered_files(const Json& files) {
    if (files.array_items().size() > limits::files_per_request) return error_too_many_files;
    for (const Json& entry : files.array_items()) {
        const std::string& id = entry["id"].string_value();
        if (id.size() > limits::id_bytes) return error_too_long;
        if (!is_safe_id(id)) return error_invalid_id;
        // A long name is kept cut to the limits of a received path (safe_relative_path),
        // never a reason to refuse the other files.
        if (entry["fileurl"].string_value().size() > limits::file_url_bytes ||
            entry["isDirectory"].string_value().size() > limits::size_text_bytes) {
            return error_too_long;
        }
        // A size that is no byte count would complete an empty file.
        if (!is_byte_count(entry["filesize"].string_value())) return error_invalid_file_size;
    }
    return "";
}

// "" when the chat's own id and its receiver are within the id limit; else the error code.
std::string check_chat_ids(const chat_fields& fields) {
    return fields.id.size() > limits::id_bytes || fields.receiver.size() > limits::id_bytes ? error_too_long : "";
}

// "" when the chat's text is within the limit; else the error code.
std::string check_chat_text(const Json& data) {
    const std::size_t size = data.is_string() ? data.string_value().size() : data.dump().size();
    return size > limits::text_chat_bytes ? error_too_long : "";
}

// The interface's own chat meets what every peer asks of it, or it would be kept and
// offered again and again to peers that refuse it: its ids, its text, the files it
// offers. A download it records goes to no peer.
std::string check_outgoing_chat(const chat_fields& fields, const Json& chat) {
    std::string refusal = check_chat_ids(fields);
    if (!refusal.empty() || fields.type == "download") return refusal;
    if (fields.type == "upload") return check_offered_files(chat["data"]["files"]);
    return check_chat_text(chat["data"]);
}

}  // namespace

std::string check_chat_format(const Json& chat, const std::string& origin) {
    const chat_fields fields = read_fields(chat);
    if (fields.id.empty()) return "empty_id";
    if (fields.sender.empty()) return "empty_sender";
    if (fields.receiver.empty()) return "empty_receiver";
    if (!is_safe_id(fields.id)) return error_invalid_id;
    if (is_local_origin(origin)) return check_outgoing_chat(fields, chat);

    std::string refusal = check_chat_ids(fields);
    if (!refusal.empty()) return refusal;
    const std::string sender_refusal = check_peer_id(fields.sender);
    if (!sender_refusal.empty()) return sender_refusal == "empty_id" ? "empty_sender" : sender_refusal;
    // A peer speaks for itself, to this device, and offers files only as a download.
    if (fields.receiver != get_userid() || fields.type == "upload") return error_forbidden;
    const Json& data = chat["data"];
    if (fields.type == "download") return check_offered_files(data["files"]);
    return check_chat_text(data);
}

std::string check_chat_request(const Json& chat, const std::string& origin) {
    std::string refusal = check_chat_format(chat, origin);
    if (!refusal.empty()) return refusal;
    const chat_fields fields = read_fields(chat);
    // Ids another sender holds would be dropped by the store: say so now.
    const bool free = fields.type == "download"
                          ? db_may_store_download(chat["data"]["files"].array_items(), fields.id, fields.sender)
                          : db_chat_id_free_for(fields.id, fields.sender);
    if (!free) return error_id_taken;
    if (!is_local_origin(origin) && !peer_claim_holds(fields.sender, origin, true)) return error_forbidden;
    return "";
}

std::string handle_create_chat(Json chat, std::string origin) {
    const std::string id = chat["id"].string_value();
    std::string refusal = check_chat_request(chat, origin);
    if (refusal.empty()) {
        if (chat.dump().size() <= inline_chat_limit) {
            process_chat(chat, origin);
        } else if (!run_on_chat_lane(
                       "process_chat",
                       [chat = std::move(chat), origin = std::move(origin)]() mutable {
                           run_process_chat(std::move(chat), std::move(origin));
                       },
                       chat_lane_wait)) {
            refusal = error_busy;
        }
    }
    if (!refusal.empty()) return Json(Json::object{{"error_code", refusal}, {"id", id}, {"status", "error"}}).dump();
    return Json(Json::object{{"id", id}, {"status", "success"}}).dump();
}

void run_process_chat(Json chat, std::string origin) { process_chat(chat, origin); }

void process_chat(const Json& chat, const std::string& origin) {
    const std::int64_t started = now_ms();
    if (!check_chat_format(chat, origin).empty()) return;
    const chat_fields fields = read_fields(chat);
    const Json& data = chat["data"];

    const std::string own_id = get_userid();
    const bool incoming = fields.sender != own_id;
    // The same text delivered again (its sender stopped before it heard the answer, or
    // the answer came late): it is kept and was told once.
    if (incoming && fields.type == "text" && db_chat_stored(fields.id, fields.sender)) return;

    std::string display_text = data.dump();
    if (fields.type == "upload") {
        const Json::array& files = data["files"].array_items();
        display_text = "files to send:" + std::to_string(files.size());
        db_store_upload(files, no_account, fields.id, fields.sender, fields.receiver);
        file_totals totals;
        for (const Json& entry : files) totals.add(entry);
        record_file_upload_event(totals.count, totals.bytes, totals.last_mime_type);
    } else if (fields.type == "download") {
        const Json::array& received = data["files"].array_items();
        file_totals totals;
        Json::array entries = prepare_download_entries(received, fields.receiver, started, totals);
        display_text = "files to get:" + std::to_string(received.size());
        // Refused (an unsafe id, or ids held by another sender): no chat either.
        if (!db_store_download(entries, no_account, fields.id, fields.sender, fields.receiver)) return;
        record_file_download_event(totals.count, totals.bytes, totals.last_mime_type);
        // Files of it that arrived before are told to the sender again by the next pass.
        trigger_resend();
    } else {
        record_chat_event();
    }

    const std::string stored_data = fields.type == "text" ? data.string_value() : fields.id;
    if (!db_insert_chat(no_account, fields.id, fields.sender, fields.receiver, fields.type, stored_data)) return;

    if (incoming) {
        const Json peer = db_get_device(fields.sender);
        // Delivered already: the resend loop must never send it back.
        db_mark_chat_sent(fields.id);
        show_toast(peer["alias"].string_value(), display_text);
    }
    send_to_ui(Json(Json::object{{"action", "new_chat"}, {"info", db_get_chat_json(fields.id)}}).dump());
    if (!incoming) trigger_resend();
}

}  // namespace vandrel
