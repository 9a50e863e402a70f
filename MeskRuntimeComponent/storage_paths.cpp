#include "MeskRuntimeComponent/storage_paths.h"

#include <sys/stat.h>
#include <filesystem>
#include <vector>

#include "core_lib/foundation/file_names.h"
#include "core_lib/foundation/mime_types.h"
#include "core_lib/foundation/text_utils.h"

namespace vandrel {

namespace {

bool is_plain_component(const std::string& part) {
    return !part.empty() && part != "." && part != ".." && part.find('/') == std::string::npos &&
           part.find('\0') == std::string::npos;
}

bool is_valid_relid(const std::string& relid) {
    if (relid.empty()) return true;
    for (const auto& part : split(relid, "/"))
        if (!is_plain_component(part)) return false;
    return true;
}

bool is_inside(const std::string& path, const std::string& folder) {
    if (path == folder) return true;
    return starts_with(path, folder == "/" ? folder : folder + "/");
}

std::string canonical_or_empty(const std::string& path) {
    std::error_code error;
    auto canonical = std::filesystem::canonical(path, error);
    return error ? std::string() : canonical.string();
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

std::optional<StoragePath> parse_storage_path(const std::string& text) {
    const auto fields = split(text, "|");
    if (fields.size() != 3) return std::nullopt;
    return StoragePath{fields[0], fields[1], fields[2]};
}

std::string make_storage_path(const StoragePath& path) { return path.token + "|" + path.relid + "|" + path.name; }

std::string resolve_storage_path(const FutureAccessList& list, const std::string& storage_path) {
    const auto path = parse_storage_path(storage_path);
    if (!path || !is_plain_component(path->name) || !is_valid_relid(path->relid)) return {};
    const auto granted = list.folder_for(path->token);
    if (!granted) return {};
    const std::string folder = canonical_or_empty(*granted);
    if (folder.empty() || !is_directory(folder)) return {};

    const std::string parent =
        canonical_or_empty(path->relid.empty() ? folder : (folder == "/" ? "" : folder) + "/" + path->relid);
    if (parent.empty() || !is_inside(parent, folder) || !is_directory(parent)) return {};

    std::string candidate = (parent == "/" ? "" : parent) + "/" + path->name;
    struct stat link_info {};
    if (lstat(candidate.c_str(), &link_info) != 0) return candidate;  // not there yet
    std::string target = canonical_or_empty(candidate);               // "" for a dangling link
    if (target.empty() || !is_inside(target, folder) || target == folder) return {};
    return target;
}

std::string find_file_in_folder(const FutureAccessList& list, const std::string& storage_path) {
    std::string path = resolve_storage_path(list, storage_path);
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return {};
    return path;
}

std::uint64_t get_file_size(const FutureAccessList& list, const std::string& storage_path) {
    if (storage_path.empty()) return 0;
    const std::string path = find_file_in_folder(list, storage_path);
    struct stat info {};
    if (path.empty() || stat(path.c_str(), &info) != 0) return 0;
    return static_cast<std::uint64_t>(info.st_size);
}

std::string storage_path_for_file(FutureAccessList& list, const std::string& granted_folder,
                                  const std::string& file_path) {
    const std::string folder = canonical_or_empty(granted_folder);
    const std::string file = canonical_or_empty(file_path);
    if (folder.empty() || file.empty() || file == folder || !is_inside(file, folder)) return {};
    // Split at "/" only: on this system "\\" is a character of a name, so "sub\\b.txt" is
    // one file and never "b.txt" in "sub".
    const std::filesystem::path canonical_file(file);
    const std::string name = canonical_file.filename().string();
    const std::string parent = canonical_file.parent_path().string();
    const std::string relid = parent == folder ? "" : parent.substr(folder == "/" ? 1 : folder.size() + 1);
    if (name.find('|') != std::string::npos || relid.find('|') != std::string::npos) return {};
    const std::string token = list.add(folder);
    if (token.empty()) return {};
    return make_storage_path({token, relid, name});
}

std::string others_folder(const FutureAccessList& list, const std::string& others_token, const std::string& fallback) {
    if (!others_token.empty()) {
        const auto folder = list.folder_for(others_token);
        if (folder && is_directory(*folder)) return *folder;
    }
    return fallback;
}

std::string folder_for_mime_category(const DownloadFolders& folders, const std::string& name) {
    const std::string mime = mime_type_for(name);
    if (starts_with(mime, "image/")) return folders.pictures;
    if (starts_with(mime, "audio/")) return folders.music;
    if (starts_with(mime, "video/")) return folders.videos;
    return folders.others;
}

std::string download_target_for_file(FutureAccessList& list, const DownloadFolders& folders, const std::string& name) {
    const std::string clean = safe_file_name(name);
    const std::string folder = folder_for_mime_category(folders, clean);
    if (folder.empty()) return {};
    const std::string token = list.add(folder);
    if (token.empty()) return {};
    return token + "|" + safe_folder_path(name) + "|" + clean;
}

}  // namespace vandrel
