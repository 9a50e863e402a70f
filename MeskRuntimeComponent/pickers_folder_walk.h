// Walks a folder and its subfolders, each folder's entries in byte order of their
// names, and hands over every readable regular file. A symbolic link to a file inside
// the folder counts as a file; links that leave the folder, links to folders (their
// files are reached under their own path) and entries that cannot be read are skipped.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace vandrel {

struct WalkedFile {
    std::string path;      // as found below the walked folder (a link is not resolved)
    std::string relative;  // path below the walked folder, "/" between the levels
    std::uint64_t size = 0;
};

struct FolderWalkResult {
    // "" when the walk reached its end; otherwise what ended it (the folder cannot be
    // listed, or listing failed half-way). Files handed over before stay handed over.
    std::string failure;
    std::size_t skipped = 0;  // entries left out as unreadable or outside the folder
};

FolderWalkResult walk_folder(const std::string& folder, const std::function<void(const WalkedFile&)>& visit);

}  // namespace vandrel
