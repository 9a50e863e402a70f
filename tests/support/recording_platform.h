// Test doubles for the platform seams: a PlatformServices that records what the core
// asks of it (toasts, files opened, sizes looked up) and answers with values a test
// sets, and a UI sink that records every text sent to the interface. Thread-safe.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/platform_state.h"

namespace vandrel::testing {

class recording_platform : public PlatformServices {
public:
    // Answers a test can change at any time.
    void set_device_model(std::string model);
    void set_data_folder(std::string path);
    void set_local_folder(std::string path);
    void set_file_size(const std::string& storage_path, std::uint64_t size);
    // Every size lookup waits this long first (to make slow pages).
    void set_file_size_delay(std::chrono::milliseconds delay);
    // download_target_for_file answers prefix + name, or "" for an empty prefix.
    void set_download_target_prefix(std::string prefix);

    std::vector<std::pair<std::string, std::string>> toasts() const;
    std::vector<std::string> file_size_lookups() const;

    bool show_toast(const std::string& title, const std::string& text) override;
    void open_file(const std::string& storage_path) override;
    void show_in_folder(const std::string& storage_path) override;
    void copy_to_clipboard(const std::string& text) override;
    void pick_accepted_folder() override;
    std::vector<Json> get_accepted_folders() override;
    std::string get_device_model() override;
    std::vector<std::string> get_local_ips() override;
    std::vector<std::string> get_broadcast_addresses() override;
    std::string get_wifi_ssid() override;
    std::string get_wifi_bssid() override;
    std::string get_data_folder_path() override;
    std::string get_local_folder_path() override;
    std::string download_target_for_file(const std::string& file_name) override;
    std::uint64_t get_file_size(const std::string& storage_path) override;

    std::vector<std::string> opened_files() const;
    std::vector<std::string> shown_in_folder() const;
    std::vector<std::string> clipboard_texts() const;

private:
    mutable std::mutex mutex_;
    std::string device_model_ = "Test Model - Test Maker";
    std::string data_folder_;
    std::string local_folder_;
    std::string download_target_prefix_ = "token||";
    std::map<std::string, std::uint64_t> file_sizes_;
    std::chrono::milliseconds file_size_delay_{0};
    std::vector<std::pair<std::string, std::string>> toasts_;
    std::vector<std::string> size_lookups_;
    std::vector<std::string> opened_;
    std::vector<std::string> shown_;
    std::vector<std::string> clipboard_;
};

// Records what reaches the sink it hands out (to a platform_state or set_ui_sink).
class recording_ui_sink {
public:
    recording_ui_sink() = default;
    recording_ui_sink(const recording_ui_sink&) = delete;
    recording_ui_sink& operator=(const recording_ui_sink&) = delete;

    // A sink that records into this object's texts (and keeps them alive).
    UiSink sink() const;

    std::vector<std::string> texts() const;
    // The texts parsed as JSON (null for texts that are not JSON).
    std::vector<Json> events() const;
    // The "action" of each event, in order.
    std::vector<std::string> actions() const;
    std::size_t count(const std::string& action) const;
    void clear();

private:
    struct state {
        std::mutex mutex;
        std::vector<std::string> texts;
    };
    std::shared_ptr<state> state_ = std::make_shared<state>();
};

}  // namespace vandrel::testing
