#include "core_lib/api/transfer_control_handlers.h"

#include <set>
#include <utility>

#include "core_lib/api/api_origin.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/peers/peer_address.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/net/transfer/download_queue.h"
#include "core_lib/net/transfer/transfer_slots.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/chat_views.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/uploads.h"

namespace vandrel {

std::string handle_stop_download(Json params, std::string) {
    stop_download(params["id"].string_value());
    return reply_success();
}

std::string handle_stop_upload(Json params, std::string) {
    // Stays stopped until the upload is resumed or sent again, also across a restart.
    const std::string& id = params["id"].string_value();
    stopped_upload_id().add(id);
    if (!id.empty()) db_stop_upload(id);
    return reply_success();
}

std::string handle_download_file(Json params, std::string) {
    std::string file_id = params["file_id"].string_value();
    std::string download_id = params["download_id"].string_value();
    // The file's own row names its sender, also after the chat was erased.
    const std::string sender = db_get_file_to_receive(file_id)["sender"].string_value();
    if (sender.empty() || get_peer_ip(sender).empty()) return reply_error_message(error_not_same_wifi);
    const bool queued = start_background_job(
        "download_file", [file_id = std::move(file_id), download_id = std::move(download_id)]() mutable {
            run_download_file(std::move(file_id), std::move(download_id));
        });
    return queued ? reply_success() : reply_error_code(error_busy);
}

void run_download_file(std::string file_id, std::string download_id) { queue_download(file_id, download_id); }

std::string handle_completed_downloads(Json params, std::string origin) {
    Json::array files = params["files"].array_items();
    if (!is_local_origin(origin)) {
        if (files.size() > limits::files_per_request) return reply_error_code(error_too_many_files);
        for (const Json& file : files) {
            if (file["id"].string_value().size() > limits::id_bytes ||
                file["chat_id"].string_value().size() > limits::id_bytes) {
                return reply_error_code(error_too_long);
            }
        }
        // Only the files offered to the device proven at this address: no other peer's
        // uploads, no chats it made up.
        const std::vector<std::string> senders = peers_at_address(normalize_peer_address(origin));
        if (senders.empty()) return reply_error_code(error_forbidden);
        files = db_files_offered_to(senders, files);
    }
    const bool queued =
        start_background_job("completed_downloads", [files = std::move(files)] { notify_completed_downloads(files); });
    return queued ? reply_success() : reply_error_code(error_busy);
}

void notify_completed_downloads(const Json::array& files) {
    db_complete_file_to_send(files);
    std::set<std::string> chat_ids;
    for (const Json& file : files) chat_ids.insert(file["chat_id"].string_value());
    for (const std::string& chat_id : chat_ids) {
        send_to_ui(Json(Json::object{{"action", "download_completed"}, {"chat_id", chat_id}}).dump());
    }
}

std::string handle_chat_info(Json params, std::string) { return db_get_chat_json(params["id"].string_value()).dump(); }

}  // namespace vandrel
