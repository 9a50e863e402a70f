#include "host/host_checks.h"

#include <filesystem>
#include <optional>
#include <system_error>

#include "MeskRuntimeComponent/pickers.h"
#include "core_lib/store/devices.h"

namespace vandrel::host {

namespace {

namespace fs = std::filesystem;

struct refusal {
    std::string code;
    std::string text;
};

std::optional<refusal> missing(const std::string& path) {
    std::error_code error;
    if (fs::exists(path, error)) return std::nullopt;
    return refusal{"no_such_path", "no such file or folder: " + path};
}

std::optional<refusal> not_a_folder(const std::string& path) {
    if (auto gone = missing(path)) return gone;
    std::error_code error;
    if (fs::is_directory(path, error)) return std::nullopt;
    return refusal{"not_a_folder", "not a folder: " + path};
}

std::optional<refusal> not_a_file(const std::string& path) {
    if (auto gone = missing(path)) return gone;
    std::error_code error;
    if (fs::is_regular_file(path, error)) return std::nullopt;
    return refusal{"not_a_file", "not a file: " + path};
}

std::optional<refusal> unknown_peer(const std::string& peer) {
    try {
        if (!db_get_device(peer).is_null()) return std::nullopt;
    } catch (const std::exception& e) {
        return refusal{"unknown_peer", "the peers cannot be read now (" + std::string(e.what()) + "): " + peer};
    }
    return refusal{"unknown_peer",
                   "no known device has the id " + peer + "; /get_recently_changed_devices lists the known ones"};
}

// The core takes picked files from the accepted folder that holds the first of them, and
// stops at the first file that folder does not hold.
std::optional<refusal> outside_accepted_folders(const std::vector<std::string>& files) {
    std::string folder;
    for (const auto& file : files) {
        if (auto wrong = not_a_file(file)) return wrong;
        const std::string holding = find_accepted_folder(file);
        if (holding.empty())
            return refusal{"folder_not_accepted",
                           "no accepted folder holds " + file + "; grant its folder with :pick-accepted-folder"};
        if (folder.empty()) folder = holding;
        if (holding != folder)
            return refusal{"folder_not_accepted", file + " is not in " + folder + ", the folder of the first file"};
    }
    return std::nullopt;
}

std::optional<refusal> check_category(const command& c) {
    std::string error;
    const Json request = Json::parse(c.body, error);
    if (!error.empty()) return refusal{"invalid_json", "the request is not JSON: " + error};
    if (auto peer = unknown_peer(request["to"].string_value())) return peer;
    if (c.paths.empty()) return std::nullopt;  // a cancelled pick
    if (request["type"].string_value() == "folder") return not_a_folder(c.paths.front());
    return outside_accepted_folders(c.paths);
}

std::optional<refusal> refusal_of(const command& c) {
    switch (c.kind) {
        case command_kind::pick_folder:
            if (auto peer = unknown_peer(c.peer)) return peer;
            return not_a_folder(c.paths.front());
        case command_kind::pick_files:
            return outside_accepted_folders(c.paths);
        case command_kind::pick_category:
            return check_category(c);
        case command_kind::pick_image:
            return not_a_file(c.paths.front());
        case command_kind::pick_accepted_folder:
            return not_a_folder(c.paths.front());
        default:
            return std::nullopt;
    }
}

}  // namespace

command checked(command c) {
    auto wrong = refusal_of(c);
    if (!wrong) return c;
    return refused(std::move(c), std::move(wrong->code), std::move(wrong->text));
}

}  // namespace vandrel::host
