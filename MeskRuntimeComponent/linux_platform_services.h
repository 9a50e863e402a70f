// PlatformServices on Linux. Folders follow XDG (data and temporary folders, the user's
// Pictures, Music, Videos and downloads folders, made when missing); granted folders live
// in the access list in the data folder; toasts go to notify-send (else a line on
// standard error); files and folders open with xdg-open; the clipboard is kept in the
// process and handed to wl-copy or xclip when there is one. Work for the interface thread
// is posted to the given dispatcher at Normal priority and never waited for.
// Everything machine-specific comes in through LinuxPlatformConfig, so tests can use
// temporary folders, fake programs and injected interface lists.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "MeskRuntimeComponent/device_info.h"
#include "MeskRuntimeComponent/dispatcher.h"
#include "MeskRuntimeComponent/future_access_list.h"
#include "MeskRuntimeComponent/network_info.h"
#include "MeskRuntimeComponent/program_launcher.h"
#include "MeskRuntimeComponent/storage_paths.h"
#include "MeskRuntimeComponent/xdg_folders.h"
#include "core_lib/platform/platform_services.h"

namespace vandrel {

// Shows the user a folder picker and calls `done` once with the chosen folder, or with
// "" when the user cancels.
using FolderPicker = std::function<void(std::function<void(const std::string& folder)> done)>;

// The application package of a program at `program_path`: PREFIX/share/mesk when the
// program is installed as PREFIX/bin/mesk and that folder exists, else `built_in` (the
// repository's web folder).
std::string package_folder_for(const std::string& program_path, const std::string& built_in);
// The package folder of the running program.
std::string default_package_folder();

struct LinuxPlatformConfig {
    PlatformEnvironment environment = environment_from_process();
    std::string system_root = "/";  // where sys/ and proc/ are read for the device model
    ProgramLauncher launcher;       // missing members: the system's, over environment.path
    NetworkSources network;
    // The config value "others_folder_token"; unset or "": received files that are no
    // image, audio or video go to the downloads folder.
    std::function<std::string()> others_folder_token;
    std::function<void(const std::string& token)> set_others_folder_token;
    // Unset: every pick is a cancel.
    FolderPicker pick_folder;
    // Asks for the folder of received files of no known kind. Unset: never asked.
    FolderPicker pick_others_folder;
    // Where the files of the application package lie ("ms-appx:///" paths).
    std::string package_folder = default_package_folder();
};

class LinuxPlatformServices : public PlatformServices {
public:
    // Makes the data folder (mode 0700) and the user folders; throws std::runtime_error
    // when the data folder cannot be made.
    LinuxPlatformServices(std::shared_ptr<Dispatcher> ui, LinuxPlatformConfig config);

    bool show_toast(const std::string& title, const std::string& text) override;
    void open_file(const std::string& storage_path) override;
    void show_in_folder(const std::string& storage_path) override;
    void copy_to_clipboard(const std::string& text) override;
    void pick_accepted_folder() override;
    std::vector<Json> get_accepted_folders() override;

    std::string get_device_model() override;
    std::vector<std::string> get_local_ips() override;
    std::vector<std::string> get_broadcast_addresses() override;
    std::vector<std::string> get_local_networks() override;
    std::string get_wifi_ssid() override;
    std::string get_wifi_bssid() override;

    std::string get_data_folder_path() override;
    std::string get_local_folder_path() override;
    std::string download_target_for_file(const std::string& file_name) override;
    std::uint64_t get_file_size(const std::string& storage_path) override;
    std::string find_file_in_folder(const std::string& storage_path) override;
    std::string resolve_storage_path(const std::string& storage_path) override;
    std::string storage_path_for_file(const std::string& granted_folder, const std::string& file_path) override;

    // Pictures, Music, Videos, then the folders the user added.
    std::vector<std::string> list_accepted_folders() override;
    // Only files inside the package folder, with its links resolved.
    std::string get_package_file(const std::string& uri) override;
    // Kept under the temporary folder's "thumbnails/".
    std::string thumbnail_for_file(const std::string& file_path) override;
    // Asks through pick_others_folder when the stored token is empty or no longer in the
    // access list, and stores the token of the folder picked.
    void ensure_others_folder() override;
    // What the clipboard holds as far as this process knows ("" before any copy).
    std::string clipboard_text() const;
    const UserFolders& user_folders() const;
    FutureAccessList& access_list();

private:
    struct State;
    void launch(const std::string& path);

    const std::shared_ptr<Dispatcher> ui_;
    // Shared with the posted jobs, which may run after this object is gone.
    const std::shared_ptr<State> state_;
};

}  // namespace vandrel
