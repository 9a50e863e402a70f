#include "MeskRuntimeComponent/linux_platform_services.h"

#include <sys/stat.h>
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "MeskRuntimeComponent/thumbnails.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/ui_event_channel.h"

namespace vandrel {

namespace {

LinuxPlatformConfig completed(LinuxPlatformConfig config) {
    const ProgramLauncher system = system_program_launcher(config.environment.path);
    if (!config.launcher.find_program) config.launcher.find_program = system.find_program;
    if (!config.launcher.start_program) config.launcher.start_program = system.start_program;
    if (!config.network.interfaces) config.network.interfaces = system_network_interfaces;
    if (!config.network.wireless_links) config.network.wireless_links = system_wireless_links;
    return config;
}

std::string made_data_folder(const PlatformEnvironment& env) {
    std::string folder = data_folder_path_of(env);
    if (!make_folders(folder, 0700)) throw std::runtime_error("cannot make the data folder " + folder);
    chmod(folder.c_str(), 0700);  // it holds the private key
    return folder;
}

UserFolders made_user_folders(const PlatformEnvironment& env) {
    UserFolders folders = user_folders_of(env);
    for (const auto* folder : {&folders.pictures, &folders.music, &folders.videos, &folders.downloads})
        if (!make_folders(*folder, 0755)) std::cerr << "platform: cannot make the folder " << *folder << "\n";
    return folders;
}

// One line of standard error for a text that may hold line breaks.
std::string one_line(std::string text) {
    for (auto& c : text)
        if (c == '\n' || c == '\r') c = ' ';
    return text;
}

}  // namespace

struct LinuxPlatformServices::State {
    explicit State(LinuxPlatformConfig given)
        : config(completed(std::move(given))),
          data_folder(made_data_folder(config.environment)),
          temporary_folder(temporary_folder_path_of(config.environment)),
          folders(made_user_folders(config.environment)),
          access_list(data_folder + "access_list.json"),
          device_model(config.system_root) {}

    // Starts a helper program by name; false when it is not installed or did not start.
    bool start_helper(const std::string& name, std::vector<std::string> arguments, const std::string& input = {}) {
        const std::string program = config.launcher.find_program(name);
        if (program.empty()) return false;
        arguments.insert(arguments.begin(), program);
        return config.launcher.start_program(arguments, input);
    }

    const LinuxPlatformConfig config;
    const std::string data_folder;
    const std::string temporary_folder;
    const UserFolders folders;
    FutureAccessList access_list;
    DeviceModelCache device_model;
    mutable std::mutex clipboard_mutex;
    std::string clipboard;
};

LinuxPlatformServices::LinuxPlatformServices(std::shared_ptr<Dispatcher> ui, LinuxPlatformConfig config)
    : ui_(std::move(ui)), state_(std::make_shared<State>(std::move(config))) {
    if (!ui_) throw std::invalid_argument("LinuxPlatformServices needs a dispatcher");
}

const UserFolders& LinuxPlatformServices::user_folders() const { return state_->folders; }

FutureAccessList& LinuxPlatformServices::access_list() { return state_->access_list; }

bool LinuxPlatformServices::show_toast(const std::string& title, const std::string& text) {
    ui_->RunAsync(DispatchPriority::Normal, [state = state_, title, text] {
        if (!state->start_helper("notify-send", {"--", title, text}))
            std::cerr << "toast: " << one_line(title) << ": " << one_line(text) << "\n";
    });
    return true;
}

void LinuxPlatformServices::launch(const std::string& path) {
    ui_->RunAsync(DispatchPriority::Normal, [state = state_, path] {
        if (!state->start_helper("xdg-open", {path}))
            std::cerr << "platform: cannot open " << path << " (no xdg-open)\n";
    });
}

void LinuxPlatformServices::open_file(const std::string& storage_path) {
    const std::string file = find_file_in_folder(storage_path);
    if (!file.empty()) launch(file);
}

void LinuxPlatformServices::show_in_folder(const std::string& storage_path) {
    // xdg-open cannot select the file, so the folder opens without a selection.
    const std::string file = find_file_in_folder(storage_path);
    if (file.empty()) return;
    std::string folder = parent_folder_of_path(file);
    if (folder.size() > 1) folder.pop_back();  // the trailing "/"
    launch(folder);
}

void LinuxPlatformServices::copy_to_clipboard(const std::string& text) {
    ui_->RunAsync(DispatchPriority::Normal, [state = state_, text] {
        {
            std::lock_guard<std::mutex> lock(state->clipboard_mutex);
            state->clipboard = text;
        }
        const auto& env = state->config.environment;
        if (!env.wayland_display.empty() && state->start_helper("wl-copy", {}, text)) return;
        if (!env.display.empty()) state->start_helper("xclip", {"-selection", "clipboard"}, text);
    });
}

std::string LinuxPlatformServices::clipboard_text() const {
    std::lock_guard<std::mutex> lock(state_->clipboard_mutex);
    return state_->clipboard;
}

void LinuxPlatformServices::pick_accepted_folder() {
    ui_->RunAsync(DispatchPriority::Normal, [state = state_] {
        if (!state->config.pick_folder) return;
        state->config.pick_folder([state](const std::string& folder) {
            if (folder.empty() || state->access_list.add(folder, true).empty()) return;
            send_to_ui(Json(Json::object{{"action", "device_updated"}}).dump());
        });
    });
}

void LinuxPlatformServices::ensure_others_folder() {
    ui_->RunAsync(DispatchPriority::Normal, [state = state_] {
        const LinuxPlatformConfig& config = state->config;
        if (!config.others_folder_token || !config.set_others_folder_token || !config.pick_others_folder) return;
        const std::string token = config.others_folder_token();
        if (!token.empty() && state->access_list.contains(token)) return;
        // A cancel stores nothing: the question comes again at the next start.
        config.pick_others_folder([state](const std::string& folder) {
            if (folder.empty()) return;
            const std::string granted = state->access_list.add(folder);
            if (!granted.empty()) state->config.set_others_folder_token(granted);
        });
    });
}

std::vector<std::string> LinuxPlatformServices::list_accepted_folders() {
    std::vector<std::string> folders{state_->folders.pictures, state_->folders.music, state_->folders.videos};
    for (auto& folder : state_->access_list.accepted_folders()) {
        struct stat info {};
        if (stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) folders.push_back(std::move(folder));
    }
    return folders;
}

std::vector<Json> LinuxPlatformServices::get_accepted_folders() {
    std::vector<Json> entries;
    for (const auto& folder : list_accepted_folders())
        entries.push_back(Json::object{{"name", file_name_of_path(folder)}, {"path", folder}});
    return entries;
}

std::string LinuxPlatformServices::get_device_model() { return state_->device_model.get(); }

std::vector<std::string> LinuxPlatformServices::get_local_ips() {
    return local_ips_of(state_->config.network.interfaces());
}

std::vector<std::string> LinuxPlatformServices::get_broadcast_addresses() {
    return broadcast_addresses_of(state_->config.network.interfaces());
}

std::vector<std::string> LinuxPlatformServices::get_local_networks() {
    return local_networks_of(state_->config.network.interfaces());
}

std::string LinuxPlatformServices::get_wifi_ssid() { return wifi_ssid_of(state_->config.network.wireless_links()); }

std::string LinuxPlatformServices::get_wifi_bssid() { return wifi_bssid_of(state_->config.network.wireless_links()); }

std::string LinuxPlatformServices::get_data_folder_path() {
    if (!make_folders(state_->data_folder, 0700))
        throw std::runtime_error("cannot make the data folder " + state_->data_folder);
    return state_->data_folder;
}

std::string LinuxPlatformServices::get_local_folder_path() {
    if (!make_folders(state_->temporary_folder, 0700))
        throw std::runtime_error("cannot make the temporary folder " + state_->temporary_folder);
    return state_->temporary_folder;
}

std::string LinuxPlatformServices::download_target_for_file(const std::string& file_name) {
    const std::string token = state_->config.others_folder_token ? state_->config.others_folder_token() : std::string();
    const DownloadFolders folders{state_->folders.pictures, state_->folders.music, state_->folders.videos,
                                  others_folder(state_->access_list, token, state_->folders.downloads)};
    return vandrel::download_target_for_file(state_->access_list, folders, file_name);
}

std::uint64_t LinuxPlatformServices::get_file_size(const std::string& storage_path) {
    return vandrel::get_file_size(state_->access_list, storage_path);
}

std::string LinuxPlatformServices::find_file_in_folder(const std::string& storage_path) {
    return vandrel::find_file_in_folder(state_->access_list, storage_path);
}

std::string LinuxPlatformServices::resolve_storage_path(const std::string& storage_path) {
    return vandrel::resolve_storage_path(state_->access_list, storage_path);
}

std::string LinuxPlatformServices::storage_path_for_file(const std::string& granted_folder,
                                                         const std::string& file_path) {
    return vandrel::storage_path_for_file(state_->access_list, granted_folder, file_path);
}

std::string package_folder_for(const std::string& program_path, const std::string& built_in) {
    std::error_code error;
    const std::filesystem::path installed =
        std::filesystem::path(program_path).parent_path().parent_path() / "share" / "mesk";
    if (!program_path.empty() && std::filesystem::is_directory(installed, error)) return installed.string();
    return built_in;
}

std::string default_package_folder() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return package_folder_for(error ? std::string() : program.string(), MESK_PACKAGE_DIR);
}

std::string LinuxPlatformServices::get_package_file(const std::string& uri) {
    const std::string prefix = "ms-appx:///";
    if (uri.size() <= prefix.size() || !starts_with(uri, prefix)) return {};
    std::error_code error;
    const std::filesystem::path root = std::filesystem::canonical(state_->config.package_folder, error);
    if (error) return {};
    const std::filesystem::path file = std::filesystem::canonical(root / uri.substr(prefix.size()), error);
    if (error || !std::filesystem::is_regular_file(file, error)) return {};
    // Nothing outside the package folder, whatever the path says.
    const auto [inside, end] = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    if (inside != root.end()) return {};
    return file.string();
}

std::string LinuxPlatformServices::thumbnail_for_file(const std::string& file_path) {
    return make_thumbnail(file_path, get_local_folder_path() + "thumbnails/");
}

}  // namespace vandrel
