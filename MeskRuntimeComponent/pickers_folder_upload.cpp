// The folder upload: walk the chosen folder and send its files to the peer, one
// "/create_upload" request per page of files, all under one upload id.
#include <filesystem>
#include <iostream>
#include <utility>

#include "MeskRuntimeComponent/pickers_folder_walk.h"
#include "MeskRuntimeComponent/pickers_jobs.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/sha256.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"

namespace vandrel {

namespace {

// The folder's own name as the user sees it (the picked path, not where links lead).
std::string display_name_of_folder(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    const std::string name = file_name_of_path(folder);
    return name.empty() ? folder : name;
}

}  // namespace

std::int64_t hours_since_epoch() { return now_ms() / 3600000; }

std::string folder_upload_id(const std::string& folder_path, std::int64_t hours, const std::string& peer_id) {
    return sha256_hex(folder_path + ";7" + std::to_string(hours) + peer_id);
}

void send_folder_to_peer(const std::string& peer_id, const std::string& folder) {
    const std::string display_name = display_name_of_folder(folder);
    send_picker_feedback(peer_id, "loading folder " + display_name);

    std::error_code error;
    const std::string canonical = std::filesystem::canonical(folder, error).string();
    if (error) {
        std::cerr << "folder upload: cannot open " << folder << ": " << error.message() << "\n";
        return;
    }
    const std::string upload_id = folder_upload_id(canonical, hours_since_epoch(), peer_id);

    Json::array page;
    std::int64_t page_number = 1;  // the page being filled, counted from 1
    std::int64_t last_feedback = 0;
    std::size_t unnamed = 0;
    const FolderWalkResult walked = walk_folder(canonical, [&](const WalkedFile& file) {
        // Separators are "/" already; a "\" is part of a name here, not a separator.
        const std::string file_name = display_name + "/" + file.relative;
        const std::string storage_path = storage_path_for_file(canonical, file.path);
        if (storage_path.empty()) {  // a name a storage path cannot hold ("|")
            ++unnamed;
            return;
        }
        const std::int64_t now = now_ms();
        if (now - last_feedback > feedback_interval_ms) {
            last_feedback = now;
            send_picker_feedback(peer_id, file_name + "; Files: " + std::to_string(page_number));
        }
        page.push_back(Json::object{{"filename", file_name},
                                    {"filesize", std::to_string(file.size)},
                                    {"fileurl", storage_path},
                                    {"isDirectory", "0"}});
        if (page.size() == folder_page_size) {
            send_upload_request(upload_id, peer_id, std::move(page));
            page = Json::array();
            ++page_number;
        }
    });
    if (walked.skipped + unnamed > 0)
        std::cerr << "folder upload: left out " << walked.skipped + unnamed << " entries of " << canonical << "\n";
    if (!walked.failure.empty()) {
        // The pages sent so far stay sent; the page being filled is dropped with the walk.
        std::cerr << "folder upload: " << walked.failure << "\n";
        return;
    }
    if (!page.empty()) send_upload_request(upload_id, peer_id, std::move(page));
}

}  // namespace vandrel
