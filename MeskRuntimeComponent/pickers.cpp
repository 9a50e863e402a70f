#include "MeskRuntimeComponent/pickers.h"

#include <mutex>
#include <utility>

#include "MeskRuntimeComponent/pickers_jobs.h"
#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

std::mutex pickers_mutex;
std::shared_ptr<PickerService> installed_service;
std::shared_ptr<const UploadRequestSender> installed_sender;

std::shared_ptr<const UploadRequestSender> upload_request_sender() {
    std::lock_guard<std::mutex> lock(pickers_mutex);
    return installed_sender;
}

// The work after a dialog; when the core is too busy to take it, the user is told.
void start_pick_job(const std::string& peer_id, std::string name, std::function<void()> job) {
    if (!start_background_job(std::move(name), std::move(job))) {
        send_picker_feedback(peer_id, "Too busy to take this pick now; please try again.");
    }
}

PickerStart start_for_category(const std::string& type) {
    if (type == "photos" || type == "files") return PickerStart::Pictures;
    if (type == "songs") return PickerStart::Music;
    if (type == "videos") return PickerStart::Videos;
    return PickerStart::None;
}

}  // namespace

void install_picker_service(std::shared_ptr<PickerService> service) {
    std::lock_guard<std::mutex> lock(pickers_mutex);
    installed_service = std::move(service);
}

std::shared_ptr<PickerService> picker_service() {
    std::lock_guard<std::mutex> lock(pickers_mutex);
    return installed_service;
}

void set_upload_request_sender(UploadRequestSender sender) {
    auto next = sender ? std::make_shared<const UploadRequestSender>(std::move(sender)) : nullptr;
    std::lock_guard<std::mutex> lock(pickers_mutex);
    installed_sender = std::move(next);
}

void send_upload_request(const std::string& upload_id, const std::string& peer_id, Json::array files) {
    const std::string body =
        Json(Json::object{
                 {"id", upload_id}, {"files", std::move(files)}, {"sender", get_userid()}, {"receiver", peer_id}})
            .dump();
    if (auto sender = upload_request_sender()) {
        (*sender)(body);
        return;
    }
    handle_api_request("/create_upload", body, "from_ui");  // the reply is not needed
}

void send_picker_feedback(const std::string& peer_id, const std::string& text) {
    Json::object event{{"action", "feedback_for_peer"}, {"feedback", text}};
    if (!peer_id.empty()) event["peer_id"] = peer_id;
    send_to_ui(Json(std::move(event)).dump());
}

void pick_folder_to_send(const std::string& peer_id) {
    const auto service = picker_service();
    if (!service) return;
    service->pick_folder([peer_id](const std::string& folder) {
        if (folder.empty()) return;
        start_pick_job(peer_id, "folder upload", [peer_id, folder] { send_folder_to_peer(peer_id, folder); });
    });
}

void pick_files_to_share() {
    const auto service = picker_service();
    if (!service) return;
    service->pick_files(PickerStart::None, {"*"}, true, [](const std::vector<std::string>& files) {
        if (files.empty()) return;
        start_pick_job("", "share picked files", [files] { share_picked_files(files); });
    });
}

void pick_and_send_by_category(const std::string& request_json) {
    std::string error;
    const Json request = Json::parse(request_json, error);
    const std::string peer_id = request["to"].string_value();
    const std::string type = request["type"].string_value();
    if (type == "folder") {
        pick_folder_to_send(peer_id);
        return;
    }
    const auto service = picker_service();
    if (!service) return;
    service->pick_files(start_for_category(type), {"*"}, true, [peer_id](const std::vector<std::string>& files) {
        if (files.empty()) return;
        start_pick_job(peer_id, "send picked files", [peer_id, files] { send_picked_files_to_peer(peer_id, files); });
    });
}

void pick_profile_image() {
    const auto service = picker_service();
    if (!service) return;
    service->pick_files(PickerStart::Pictures, {".jpg", ".jpeg", ".png"}, false,
                        [](const std::vector<std::string>& files) {
                            if (files.empty()) return;
                            const std::string& image = files.front();
                            start_pick_job("", "profile image", [image] { set_avatar_from_image(image); });
                        });
}

}  // namespace vandrel
