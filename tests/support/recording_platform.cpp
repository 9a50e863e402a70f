#include "tests/support/recording_platform.h"

#include <algorithm>
#include <thread>

#include "core_lib/platform/ui_event_channel.h"

namespace vandrel::testing {

void recording_platform::set_device_model(std::string model) {
    std::lock_guard<std::mutex> lock(mutex_);
    device_model_ = std::move(model);
}

void recording_platform::set_data_folder(std::string path) {
    std::lock_guard<std::mutex> lock(mutex_);
    data_folder_ = std::move(path);
}

void recording_platform::set_local_folder(std::string path) {
    std::lock_guard<std::mutex> lock(mutex_);
    local_folder_ = std::move(path);
}

void recording_platform::set_file_size(const std::string& storage_path, std::uint64_t size) {
    std::lock_guard<std::mutex> lock(mutex_);
    file_sizes_[storage_path] = size;
}

void recording_platform::set_file_size_delay(std::chrono::milliseconds delay) {
    std::lock_guard<std::mutex> lock(mutex_);
    file_size_delay_ = delay;
}

void recording_platform::set_download_target_prefix(std::string prefix) {
    std::lock_guard<std::mutex> lock(mutex_);
    download_target_prefix_ = std::move(prefix);
}

std::vector<std::pair<std::string, std::string>> recording_platform::toasts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return toasts_;
}

std::vector<std::string> recording_platform::file_size_lookups() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return size_lookups_;
}

bool recording_platform::show_toast(const std::string& title, const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    toasts_.emplace_back(title, text);
    return true;
}

void recording_platform::open_file(const std::string& storage_path) {
    std::lock_guard<std::mutex> lock(mutex_);
    opened_.push_back(storage_path);
}

void recording_platform::show_in_folder(const std::string& storage_path) {
    std::lock_guard<std::mutex> lock(mutex_);
    shown_.push_back(storage_path);
}

void recording_platform::copy_to_clipboard(const std::string& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    clipboard_.push_back(text);
}

void recording_platform::pick_accepted_folder() {}

std::vector<Json> recording_platform::get_accepted_folders() { return {}; }

std::string recording_platform::get_device_model() {
    std::lock_guard<std::mutex> lock(mutex_);
    return device_model_;
}

std::vector<std::string> recording_platform::get_local_ips() { return {}; }
std::vector<std::string> recording_platform::get_broadcast_addresses() { return {}; }
std::string recording_platform::get_wifi_ssid() { return ""; }
std::string recording_platform::get_wifi_bssid() { return ""; }

std::string recording_platform::get_data_folder_path() {
    std::lock_guard<std::mutex> lock(mutex_);
    return data_folder_;
}

std::string recording_platform::get_local_folder_path() {
    std::lock_guard<std::mutex> lock(mutex_);
    return local_folder_;
}

std::string recording_platform::download_target_for_file(const std::string& file_name) {
    std::lock_guard<std::mutex> lock(mutex_);
    return download_target_prefix_.empty() ? std::string() : download_target_prefix_ + file_name;
}

std::uint64_t recording_platform::get_file_size(const std::string& storage_path) {
    std::chrono::milliseconds delay;
    std::uint64_t size = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        size_lookups_.push_back(storage_path);
        delay = file_size_delay_;
        auto it = file_sizes_.find(storage_path);
        if (it != file_sizes_.end() && !storage_path.empty()) size = it->second;
    }
    if (delay.count() > 0) std::this_thread::sleep_for(delay);
    return size;
}

std::vector<std::string> recording_platform::opened_files() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_;
}

std::vector<std::string> recording_platform::shown_in_folder() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return shown_;
}

std::vector<std::string> recording_platform::clipboard_texts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return clipboard_;
}

UiSink recording_ui_sink::sink() const {
    std::shared_ptr<state> recorded = state_;
    return [recorded](const std::string& text) {
        std::lock_guard<std::mutex> lock(recorded->mutex);
        recorded->texts.push_back(text);
    };
}

std::vector<std::string> recording_ui_sink::texts() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->texts;
}

std::vector<Json> recording_ui_sink::events() const {
    std::vector<Json> parsed;
    for (const std::string& text : texts()) {
        std::string err;
        parsed.push_back(Json::parse(text, err));
    }
    return parsed;
}

std::vector<std::string> recording_ui_sink::actions() const {
    std::vector<std::string> result;
    for (const Json& event : events()) result.push_back(event["action"].string_value());
    return result;
}

std::size_t recording_ui_sink::count(const std::string& action) const {
    const std::vector<std::string> all = actions();
    return static_cast<std::size_t>(std::count(all.begin(), all.end(), action));
}

void recording_ui_sink::clear() {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->texts.clear();
}

}  // namespace vandrel::testing
