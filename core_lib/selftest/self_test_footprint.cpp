#include "core_lib/selftest/self_test_footprint.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/file_names.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/net/transfer/download_queue.h"
#include "core_lib/net/transfer/output_stream.h"
#include "core_lib/net/transfer/transfer_slots.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/chat_views.h"
#include "core_lib/store/config.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/received_files.h"
#include "core_lib/store/removals.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

using namespace std::chrono_literals;

constexpr auto chat_lane_limit = 30s;
// How long stopped transfers get to let go of their files: they must stop changing for
// settle_quiet, within settle_limit.
constexpr auto settle_quiet = 1s;
constexpr auto settle_limit = 5s;
constexpr auto settle_poll = 100ms;

// Where on disk the loop-back's download of that id put its file, once it arrived, and
// its partial file.
std::vector<std::string> received_paths(const std::string& download_id, const std::string& file_name) {
    std::vector<std::string> paths;
    const Json files = db_get_download_file_urls(download_id, 10, 0);
    for (const Json& file : files.array_items()) {
        const std::string& id = file["id"].string_value();
        const std::string arrived = db_received_file_path(id);
        const std::string path = arrived.empty() ? "" : resolve_storage_path(arrived);
        if (!path.empty()) paths.push_back(path);
        const std::string partial = partial_file_path(file_name, id);
        if (!partial.empty()) paths.push_back(partial);
    }
    return paths;
}

std::uintmax_t size_or_none(const std::string& path) {
    std::error_code error;
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    return error ? static_cast<std::uintmax_t>(-1) : size;
}

void remove_file(const std::string& path) {
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error) std::cerr << "self test: cannot remove " << path << ": " << error.message() << "\n";
}

// Runs each step; a step that fails leaves the later ones to run, and the first
// failure is raised once all ran.
class steps {
public:
    void run(const char* name, const std::function<void()>& body) {
        try {
            body();
        } catch (const std::exception& e) {
            if (first_error_.empty()) first_error_ = std::string(name) + ": " + e.what();
        }
    }
    void finish() const {
        if (!first_error_.empty()) throw std::runtime_error("restoring failed: " + first_error_);
    }

private:
    std::string first_error_;
};

}  // namespace

void self_test_footprint::take_snapshot() {
    alias_ = get_alias();
    config_value_ = db_config_get(true, self_test_config_key);
    fake_device_ = db_get_device(fake_device_id);
    if (!fake_device_.is_null()) {
        Json::object record = fake_device_.object_items();
        record["last_ip"] = db_get_device_last_ip(fake_device_id);
        fake_device_ = Json(std::move(record));
    }
    own_address_ = get_peer_ip(get_userid());
}

void self_test_footprint::note_alias(const std::string& alias) { aliases_written_.insert(alias); }

void self_test_footprint::note_chat(const std::string& id, const std::string& sender) {
    chats_.emplace_back(id, sender);
}

void self_test_footprint::note_upload(const std::string& id, const std::string& sender) {
    uploads_.emplace_back(id, sender);
}

void self_test_footprint::note_download(const std::string& id, const std::string& sender) {
    downloads_.emplace_back(id, sender);
}

void self_test_footprint::note_loopback(const std::string& id, const std::string& file_name) {
    loopbacks_.emplace_back(id, file_name);
}

void self_test_footprint::note_loopback_settled(const std::string& id) { settled_.insert(id); }

void self_test_footprint::note_file(const std::string& path) { files_.push_back(path); }

void self_test_footprint::stop_unsettled_transfers() {
    std::vector<std::string> paths;
    for (const auto& [id, name] : loopbacks_) {
        if (settled_.count(id) != 0) continue;
        stop_download(id);
        stopped_upload_id().add(id);
        for (std::string& path : received_paths(id, name)) paths.push_back(std::move(path));
    }
    if (paths.empty()) return;
    // The transfer threads end a stopped file at its next piece; once nothing of it
    // changes any more, nothing will be renamed into place behind the removal.
    const auto sizes = [&paths] {
        std::vector<std::uintmax_t> now;
        now.reserve(paths.size());
        for (const std::string& path : paths) now.push_back(size_or_none(path));
        return now;
    };
    const auto limit = std::chrono::steady_clock::now() + settle_limit;
    auto last = sizes();
    auto quiet_since = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() < limit && std::chrono::steady_clock::now() - quiet_since < settle_quiet) {
        std::this_thread::sleep_for(settle_poll);
        auto now = sizes();
        if (now != last) {
            last = std::move(now);
            quiet_since = std::chrono::steady_clock::now();
        }
    }
}

void self_test_footprint::restore() {
    if (restored_) return;
    restored_ = true;
    steps each;
    std::string own_id;
    each.run("device id", [&] { own_id = get_userid(); });
    // No loop-back from here on: this device's own calls are refused once it left the
    // directory, and the chats accepted before are processed before their rows go.
    each.run("peer directory", [&] {
        if (own_address_.empty()) {
            forget_peer_ip(own_id);
        } else {
            set_peer_ip(own_id, own_address_);
        }
    });
    each.run("chat lane", [] {
        if (!wait_for_chat_lane(chat_lane_limit)) throw std::runtime_error("chats still being processed");
    });
    each.run("transfers", [this] { stop_unsettled_transfers(); });
    // While the rows still say where the files went.
    for (const auto& loopback : loopbacks_) {
        each.run("received files", [&] {
            for (const std::string& path : received_paths(loopback.first, loopback.second)) remove_file(path);
        });
    }
    for (const auto& chat : chats_) each.run("chats", [&] { db_delete_chat(chat.first, chat.second); });
    for (const auto& upload : uploads_) each.run("uploads", [&] { db_delete_upload(upload.first, upload.second); });
    for (const auto& download : downloads_) {
        each.run("downloads", [&] { db_delete_download(download.first, download.second); });
    }
    each.run("fake device", [this] {
        if (fake_device_.is_null()) {
            db_delete_device(fake_device_id);
        } else {
            db_upsert_device(fake_device_id, fake_device_["sys_info"].string_value(),
                             fake_device_["alias"].string_value(), fake_device_["last_ip"].string_value());
        }
    });
    for (const std::string& path : files_) remove_file(path);
    each.run("alias", [this] {
        const std::string now = get_alias();
        if (now != alias_ && aliases_written_.count(now) != 0) set_alias(alias_);
    });
    each.run("config", [this] {
        if (config_value_.empty()) {
            db_config_delete(true, self_test_config_key);
        } else {
            db_config_set(true, self_test_config_key, config_value_);
        }
    });
    // The interface reads its lists again.
    each.run("peers", [&] {
        if (own_address_.empty()) notify_peers_updated(own_id);
    });
    each.finish();
}

}  // namespace vandrel
