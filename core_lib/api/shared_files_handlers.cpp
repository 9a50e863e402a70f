#include "core_lib/api/shared_files_handlers.h"

#include <utility>

#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/api_origin.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/sha256.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/shared_pending.h"

namespace vandrel {

namespace {

std::vector<std::string> texts_of(const Json& list) {
    std::vector<std::string> texts;
    for (const Json& item : list.array_items()) texts.push_back(item.string_value());
    return texts;
}

constexpr std::int64_t ms_per_hour = std::int64_t{3600} * 1000;

}  // namespace

std::string handle_shared_files(Json, std::string) {
    return reply_success_with({{"files", Json(db_get_shared_files())}});
}

std::string handle_add_shared_files(Json params, std::string) {
    db_add_shared_files(params["files"].array_items());
    return reply_success();
}

std::string handle_remove_shared_file(Json params, std::string) {
    db_remove_shared_file(params["id"].string_value());
    return reply_success();
}

std::string handle_clear_pending_files(Json, std::string) {
    db_clear_pending_files();
    return reply_success();
}

std::string handle_pending_files_updated(Json params, std::string) {
    db_add_pending_file(texts_of(params["files"]));
    return reply_success();
}

std::string handle_pending_folders_updated(Json params, std::string) {
    db_add_pending_folder(texts_of(params["folders"]));
    return reply_success();
}

std::string handle_get_pending_files(Json, std::string) {
    return reply_success_with({{"files", Json(db_get_pending_files())}});
}

std::string handle_upload_pending_files(Json params, std::string) {
    const bool queued = start_background_job(
        "send_pending_files", [params = std::move(params)]() mutable { send_pending_files(std::move(params)); });
    return queued ? reply_success() : reply_error_code(error_busy);
}

std::string pending_upload_id(std::int64_t now, const std::vector<std::string>& file_paths,
                              const std::string& peer_id) {
    const std::uint64_t hour = static_cast<std::uint64_t>(now) / static_cast<std::uint64_t>(ms_per_hour);
    std::string batch_key = sha256_hex(std::to_string(hour));
    for (const std::string& path : file_paths) batch_key += path;
    return sha256_hex(batch_key + peer_id);
}

void send_pending_files(Json params) {
    const std::vector<std::string> peers = texts_of(params["selected_peers"]);
    // With no peer to send to, the waiting paths stay waiting.
    if (peers.empty()) return;
    const Json pending = db_take_pending_files();
    const std::int64_t now = now_ms();

    Json::array file_entries;
    std::vector<std::string> file_paths;
    for (const Json& entry : pending.array_items()) {
        const std::string& path = entry["path"].string_value();
        // A pending folder is not sent: only its files would be, one by one.
        if (entry["is_folder"].int_value() == 1) continue;
        file_entries.push_back(Json::object{{"filename", file_name_of_path(path)},
                                            {"filesize", std::to_string(get_file_size(path))},
                                            {"fileurl", path},
                                            {"isDirectory", "0"}});
        file_paths.push_back(path);
    }

    const std::string own_id = get_userid();
    for (const std::string& peer : peers) {
        const Json request(Json::object{{"id", pending_upload_id(now, file_paths, peer)},
                                        {"sender", own_id},
                                        {"receiver", peer},
                                        {"files", file_entries}});
        handle_api_request("/create_upload", request.dump(), origin_from_ui);
    }
}

std::string handle_accepted_folders(Json, std::string) {
    return Json(Json::object{{"folders", Json(get_accepted_folders())}}).dump();
}

std::string handle_add_accepted_folder(Json, std::string) {
    const bool queued = start_background_job("pick_accepted_folder", [] { pick_accepted_folder(); });
    return queued ? reply_success() : reply_error_code(error_busy);
}

}  // namespace vandrel
