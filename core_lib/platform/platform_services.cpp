#include "core_lib/platform/platform_services.h"

#include "core_lib/platform/platform_state.h"

#include <stdexcept>

namespace vandrel {

void install_platform_services(std::shared_ptr<PlatformServices> services) {
    current_platform::get().set_services(std::move(services));
}

std::shared_ptr<PlatformServices> platform_services() {
    auto services = current_platform::get().services();
    if (!services) throw std::logic_error("no platform services installed");
    return services;
}

bool show_toast(std::string title, std::string text) { return platform_services()->show_toast(title, text); }
void open_file(std::string storage_path) { platform_services()->open_file(storage_path); }
void show_in_folder(std::string storage_path) { platform_services()->show_in_folder(storage_path); }
void copy_to_clipboard(std::string text) { platform_services()->copy_to_clipboard(text); }
void pick_accepted_folder() { platform_services()->pick_accepted_folder(); }
std::vector<Json> get_accepted_folders() { return platform_services()->get_accepted_folders(); }
std::string get_device_model() { return platform_services()->get_device_model(); }
std::vector<std::string> get_local_ips() { return platform_services()->get_local_ips(); }
std::vector<std::string> get_broadcast_addresses() { return platform_services()->get_broadcast_addresses(); }
std::vector<std::string> get_local_networks() { return platform_services()->get_local_networks(); }
std::string get_wifi_ssid() { return platform_services()->get_wifi_ssid(); }
std::string get_wifi_bssid() { return platform_services()->get_wifi_bssid(); }
std::string get_data_folder_path() { return platform_services()->get_data_folder_path(); }
std::string get_local_folder_path() { return platform_services()->get_local_folder_path(); }
std::string download_target_for_file(std::string file_name) {
    return platform_services()->download_target_for_file(file_name);
}
std::uint64_t get_file_size(std::string storage_path) { return platform_services()->get_file_size(storage_path); }
std::string find_file_in_folder(std::string storage_path) {
    return platform_services()->find_file_in_folder(storage_path);
}
std::string resolve_storage_path(std::string storage_path) {
    return platform_services()->resolve_storage_path(storage_path);
}
std::string storage_path_for_file(std::string granted_folder, std::string file_path) {
    return platform_services()->storage_path_for_file(granted_folder, file_path);
}
std::vector<std::string> list_accepted_folders() { return platform_services()->list_accepted_folders(); }

std::string get_package_file(std::string uri) { return platform_services()->get_package_file(uri); }
std::string thumbnail_for_file(std::string file_path) { return platform_services()->thumbnail_for_file(file_path); }
void ensure_others_folder() { platform_services()->ensure_others_folder(); }

}  // namespace vandrel
