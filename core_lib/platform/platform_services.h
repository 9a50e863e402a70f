// The operating-system services the core calls (toasts, launcher, clipboard, folders,
// device and network information). The core calls the free functions below; they
// forward to the running core's PlatformServices (the Linux one in production, a
// recording one in tests). Calling one with none installed, or with no core running,
// throws std::logic_error.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

class PlatformServices {
public:
    virtual ~PlatformServices() = default;

    // Interface-thread work: posted, never waited for.
    virtual bool show_toast(const std::string& title, const std::string& text) = 0;
    virtual void open_file(const std::string& storage_path) = 0;
    virtual void show_in_folder(const std::string& storage_path) = 0;
    virtual void copy_to_clipboard(const std::string& text) = 0;
    virtual void pick_accepted_folder() = 0;
    virtual std::vector<Json> get_accepted_folders() = 0;

    // Device and network information.
    virtual std::string get_device_model() = 0;
    virtual std::vector<std::string> get_local_ips() = 0;
    virtual std::vector<std::string> get_broadcast_addresses() = 0;
    // The networks of this device's interfaces, as "ADDRESS/PREFIX"; none by default.
    virtual std::vector<std::string> get_local_networks() { return {}; }
    virtual std::string get_wifi_ssid() = 0;
    virtual std::string get_wifi_bssid() = 0;

    // Folders and files. Folder paths end in "/".
    virtual std::string get_data_folder_path() = 0;
    virtual std::string get_local_folder_path() = 0;
    // The storage path a received file of that (relative) name takes, its folders kept.
    virtual std::string download_target_for_file(const std::string& file_name) = 0;
    virtual std::uint64_t get_file_size(const std::string& storage_path) = 0;

    // Storage paths ("token|relid|name") and plain paths. The defaults name nothing, so
    // services without a file system need not provide them.
    // The existing file a storage path names, or "".
    virtual std::string find_file_in_folder(const std::string& /*storage_path*/) { return {}; }
    // The path a storage path names, whether or not the file exists yet, or "".
    virtual std::string resolve_storage_path(const std::string& /*storage_path*/) { return {}; }
    // The storage path of a file inside a folder the user granted, or "".
    virtual std::string storage_path_for_file(const std::string& /*granted_folder*/, const std::string& /*file_path*/) {
        return {};
    }
    // The folders in which the pickers may find the user's files, in search order
    // (Pictures, Music, Videos, then the folders the user added). None by default.
    virtual std::vector<std::string> list_accepted_folders() { return {}; }
    // The file on disk of a path of the application package ("ms-appx:///..."), or "".
    virtual std::string get_package_file(const std::string& /*uri*/) { return {}; }
    // A JPEG picture of at most 400 pixels on its long side of the image file at that
    // path on disk, made once and kept; "" when the file is no picture it can read.
    virtual std::string thumbnail_for_file(const std::string& /*file_path*/) { return {}; }
    // Makes sure a folder for received files of no known kind is granted: posts the
    // question to the interface thread when none is, and returns at once.
    virtual void ensure_others_folder() {}
};

// Replaces the running core's services.
void install_platform_services(std::shared_ptr<PlatformServices> services);
// The installed services; throws std::logic_error when none is installed.
std::shared_ptr<PlatformServices> platform_services();

bool show_toast(std::string title, std::string text);
void open_file(std::string storage_path);
void show_in_folder(std::string storage_path);
void copy_to_clipboard(std::string text);
void pick_accepted_folder();
std::vector<Json> get_accepted_folders();
std::string get_device_model();
std::vector<std::string> get_local_ips();
std::vector<std::string> get_broadcast_addresses();
std::vector<std::string> get_local_networks();
std::string get_wifi_ssid();
std::string get_wifi_bssid();
std::string get_data_folder_path();
std::string get_local_folder_path();
std::string download_target_for_file(std::string file_name);
std::uint64_t get_file_size(std::string storage_path);
std::string find_file_in_folder(std::string storage_path);
std::string resolve_storage_path(std::string storage_path);
std::string storage_path_for_file(std::string granted_folder, std::string file_path);
std::vector<std::string> list_accepted_folders();
std::string get_package_file(std::string uri);
std::string thumbnail_for_file(std::string file_path);
void ensure_others_folder();

// Nothing to do on this platform; kept so callers read as they do elsewhere.
inline void open_folder(const std::string&) {}

// The platform word that goes into OS fields of requests, replies and events.
inline std::string platform_name() { return "linux"; }

}  // namespace vandrel
