// File names that come from elsewhere (a peer's offer, a picked file) made safe to
// create: the one rule for the name of a received file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vandrel {

// The name without any of < > : " \ | ? * and without "../". "/" stays.
std::string sanitize_file_name(std::string name);

// A safe name leaves room, within the 255 bytes a file name may have, for the longest
// name derived from it: the backup name adds ".mesk_backup_", 20 digits, "_" and a
// number of up to 4 digits, "." and the extension (at most 32 bytes).
constexpr std::size_t max_file_name_bytes = 180;
// A received relative path (folders and name, "/" between them) is at most this long.
constexpr std::size_t max_relative_path_bytes = 4096;

// The hidden folder, beside the received files, that holds the files still arriving.
// No safe name is this one, in any case of its letters (file systems that ignore case).
inline constexpr const char* partial_folder_name = ".mesk_partial";

// The one name under which a received file is stored (and from which its backup name
// is made): sanitised, only what follows the last "/", no control bytes, bytes that are
// not UTF-8 replaced by "_", never "", "." or ".." (those become "file"), never the
// partial folder's name (that gets a leading "_"), and at most max_bytes long: a longer
// name is cut on a character boundary, keeping its extension (up to 32 bytes) when it
// has one.
std::string safe_file_name(const std::string& name, std::size_t max_bytes = max_file_name_bytes);

// The folders of a received relative path ("one/two/name" gives "one/two"; "" for none),
// each made safe by safe_file_name; empty, "." and ".." steps dropped. Folders that
// would make the path, with its safe name, longer than max_relative_path_bytes are left
// out from the deepest on.
std::string safe_folder_path(const std::string& name);
// safe_folder_path, "/" and safe_file_name: the relative path a received file keeps.
std::string safe_relative_path(const std::string& name);

// What follows the last "." of a safe name, or the whole name when it has none; at most
// its first 32 bytes.
std::string file_extension_of(const std::string& name);
// The name, inside the partial folder, of the file that holds what arrived of the file
// of that id: a digest of the id, so that no two ids share one, in any case of letters.
std::string partial_file_name(const std::string& file_id);
// NAME.mesk_backup_SIZE.EXT, and for a later attempt NAME.mesk_backup_SIZE_ATTEMPT.EXT:
// a name beside NAME for a file that may not take NAME.
std::string backup_file_name(const std::string& safe_name, std::uint64_t size, unsigned attempt = 0);

}  // namespace vandrel
