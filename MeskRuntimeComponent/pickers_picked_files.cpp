// Picked files are reached later only through an accepted folder: find the one that
// holds the first picked file, then store (shared files) or send (a category pick) each
// picked file as a storage path into that folder. The first file that the folder does
// not hold ends the list.
#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <iostream>
#include <optional>
#include <string_view>
#include <system_error>
#include <utility>

#include "MeskRuntimeComponent/pickers_jobs.h"
#include "MeskRuntimeComponent/storage_paths.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/sha256.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/shared_pending.h"

namespace vandrel {

namespace {

namespace fs = std::filesystem;

std::string canonical_or_empty(const std::string& path) {
    std::error_code error;
    const fs::path canonical = fs::canonical(path, error);
    return error ? std::string() : canonical.string();
}

bool lies_inside(const std::string& path, const std::string& folder) {
    if (folder == "/") return path.size() > 1 && path.front() == '/';
    return path.size() > folder.size() && starts_with(path, folder) && path[folder.size()] == '/';
}

// The path as one word of a host command line: as it is when it holds nothing the line
// would split or unquote, else in single quotes.
std::string quoted_for_host(const std::string& path) {
    const bool plain = !path.empty() && std::all_of(path.begin(), path.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 ||
               std::string_view("/._-+,:@%").find(c) != std::string_view::npos;
    });
    if (plain) return path;
    std::string quoted = "'";
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// Tells the user that the folder of the file is not an accepted one.
void report_folder_access_error(const std::string& file_path) {
    const std::string parent = parent_folder_of_path(file_path);
    show_toast("Folder Access Error", "Grant this folder first: :pick-accepted-folder " + quoted_for_host(parent));
    send_to_ui(Json(Json::object{{"action", "folder_access_error"}, {"folder", parent}}).dump());
}

struct FoundFile {
    std::string name;
    std::string storage_path;
    std::uint64_t size = 0;
};

// The picked file as a storage path into the folder, when the folder holds it as a
// readable regular file.
std::optional<FoundFile> find_in_folder(const std::string& folder, const std::string& file_path) {
    const std::string canonical = canonical_or_empty(file_path);
    if (canonical.empty() || !lies_inside(canonical, folder)) return std::nullopt;
    std::error_code error;
    if (!fs::is_regular_file(canonical, error)) return std::nullopt;
    const std::uintmax_t size = fs::file_size(canonical, error);
    if (error) return std::nullopt;
    const std::string storage_path = storage_path_for_file(folder, canonical);
    const auto parsed = parse_storage_path(storage_path);
    if (!parsed) return std::nullopt;
    return FoundFile{parsed->name, storage_path, static_cast<std::uint64_t>(size)};
}

// Goes through the picked files in order until the folder does not hold one; `take`
// gets each found file. Sends progress feedback about once a second.
void for_each_found(const std::string& folder, const std::vector<std::string>& files, const std::string& peer_id,
                    const std::function<void(const FoundFile&)>& take) {
    std::uint64_t searched = 0;
    std::int64_t last_feedback = 0;
    for (const auto& file : files) {
        ++searched;
        const auto found = find_in_folder(folder, file);
        if (!found) {
            std::cerr << "pickers: " << file << " is not in " << folder << "; it and the files after it are left out\n";
            return;
        }
        const std::int64_t now = now_ms();
        if (now - last_feedback > feedback_interval_ms) {
            last_feedback = now;
            send_picker_feedback(peer_id, found->name + "; Files: " + std::to_string(searched));
        }
        take(*found);
    }
}

}  // namespace

std::string find_accepted_folder(const std::string& file_path,
                                 const std::function<void(const std::string& folder)>& searching) {
    // Paths compare byte for byte: the file system is case-sensitive, so two paths that
    // differ in letter case are two files.
    const std::string file = canonical_or_empty(file_path);
    for (const auto& folder : list_accepted_folders()) {
        if (searching) searching(folder);
        std::string canonical = canonical_or_empty(folder);
        if (!file.empty() && !canonical.empty() && lies_inside(file, canonical)) return canonical;
    }
    return {};
}

std::string accepted_folder_holding(const std::string& file_path, const std::string& peer_id) {
    return find_accepted_folder(file_path, [&peer_id](const std::string& folder) {
        send_picker_feedback(peer_id, "Searching folder : " + file_name_of_path(folder));
        std::cerr << "pickers: searching " << folder << "\n";
    });
}

std::string picked_files_upload_id(std::int64_t hours, const std::string& peer_id,
                                   const std::vector<std::string>& file_paths) {
    std::string id = sha256_hex(std::to_string(hours) + peer_id);
    for (const auto& path : file_paths) id = sha256_hex(std::string(path).append(id));
    return id;
}

void share_picked_files(const std::vector<std::string>& files) {
    if (files.empty()) return;
    const std::string folder = accepted_folder_holding(files.front(), "");
    if (folder.empty()) {
        report_folder_access_error(files.front());
        return;
    }
    std::cerr << "pickers: sharing from " << folder << "\n";
    std::vector<Json> pending;
    for_each_found(folder, files, "", [&](const FoundFile& found) {
        pending.push_back(Json::object{{"filename", found.name}, {"fileurl", found.storage_path}});
        if (pending.size() > picked_batch_limit) {
            db_add_shared_files(pending);
            pending.clear();
        }
    });
    if (!pending.empty()) db_add_shared_files(pending);
}

void send_picked_files_to_peer(const std::string& peer_id, const std::vector<std::string>& files) {
    if (files.empty()) return;
    const std::string folder = accepted_folder_holding(files.front(), peer_id);
    if (folder.empty()) {
        report_folder_access_error(files.front());
        return;
    }
    std::cerr << "pickers: sending from " << folder << "\n";
    std::vector<std::string> identities;
    identities.reserve(files.size());
    for (const auto& file : files) {
        const std::string canonical = canonical_or_empty(file);
        identities.push_back(canonical.empty() ? file : canonical);
    }
    const std::string upload_id = picked_files_upload_id(hours_since_epoch(), peer_id, identities);

    Json::array batch;
    for_each_found(folder, files, peer_id, [&](const FoundFile& found) {
        batch.push_back(Json::object{{"filename", found.name},
                                     {"filesize", std::to_string(found.size)},
                                     {"fileurl", found.storage_path},
                                     {"isDirectory", "0"}});
        if (batch.size() > picked_batch_limit) {
            send_upload_request(upload_id, peer_id, std::move(batch));
            batch = Json::array();
        }
    });
    if (!batch.empty()) send_upload_request(upload_id, peer_id, std::move(batch));
}

}  // namespace vandrel
