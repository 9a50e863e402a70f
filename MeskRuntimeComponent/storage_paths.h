// Storage paths: how the core names a user's file without holding a plain path. A
// storage path is "token|relid|name": the access-list token of a granted folder, the
// relative id, and the file's name. Here the relative id is the path of the file's
// parent folder relative to the granted folder, "/"-separated ("" for a file directly in
// it; "2024/trip" for <folder>/2024/trip/<name>). A storage path names exactly one file:
// no "..", "." or empty component, no absolute part, and the resolved path (links
// followed) stays inside the granted folder; anything else names nothing.
// Also the file-name cleaning and the choice of folder for a received file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "MeskRuntimeComponent/future_access_list.h"
#include "core_lib/foundation/file_names.h"

namespace vandrel {

struct StoragePath {
    std::string token;
    std::string relid;
    std::string name;
};

// The three fields; nothing unless the text splits at "|" into exactly three.
std::optional<StoragePath> parse_storage_path(const std::string& text);
std::string make_storage_path(const StoragePath& path);

// The absolute path the storage path names, whether or not the file exists yet (a
// download target is resolved before its file is made); "" when the storage path is
// malformed, its token is unknown, its parent folder is missing, or it would leave the
// granted folder. An existing file is given with its links resolved.
std::string resolve_storage_path(const FutureAccessList& list, const std::string& storage_path);

// The existing regular file the storage path names, or "".
std::string find_file_in_folder(const FutureAccessList& list, const std::string& storage_path);

// Size in bytes of that file; 0 for "", a path that names nothing, or a missing file.
std::uint64_t get_file_size(const FutureAccessList& list, const std::string& storage_path);

// The storage path of an existing file inside `granted_folder` (which is added to the
// list); "" when the file is not inside that folder or the folder cannot be added.
std::string storage_path_for_file(FutureAccessList& list, const std::string& granted_folder,
                                  const std::string& file_path);

// Where received files go, by the MIME category of their name. Absolute folders.
struct DownloadFolders {
    std::string pictures;  // "image/..."
    std::string music;     // "audio/..."
    std::string videos;    // "video/..."
    std::string others;    // everything else
};

// The "others" folder: the folder of `others_token` when it is set, in the list and
// still a folder; otherwise `fallback` (the user's downloads folder).
std::string others_folder(const FutureAccessList& list, const std::string& others_token, const std::string& fallback);

// The folder that receives a file of that name.
std::string folder_for_mime_category(const DownloadFolders& folders, const std::string& name);

// "token|folders|name" for a received file: name = safe_file_name(name), folders =
// safe_folder_path(name) (the received relative folders, "" for none), the granted folder
// by the name's MIME category, added to the list. "" when that folder cannot be granted.
std::string download_target_for_file(FutureAccessList& list, const DownloadFolders& folders, const std::string& name);

}  // namespace vandrel
