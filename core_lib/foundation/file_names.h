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
// name derived from it: the backup name adds ".mesk_backup_", 20 digits, "." and the
// extension (at most 32 bytes).
constexpr std::size_t max_file_name_bytes = 180;

// The one name under which a received file is stored, written while it arrives
// (NAME.tmp.EXT) and kept aside (NAME.mesk_backup_SIZE.EXT): sanitised, only what
// follows the last "/", no control bytes, bytes that are not UTF-8 replaced by "_",
// never "", "." or ".." (those become "file"), and at most max_bytes long: a longer
// name is cut on a character boundary, keeping its extension (up to 32 bytes) when it
// has one.
std::string safe_file_name(const std::string& name, std::size_t max_bytes = max_file_name_bytes);

// What follows the last "." of a safe name, or the whole name when it has none; at most
// its first 32 bytes.
std::string file_extension_of(const std::string& name);
// NAME.tmp.EXT, and NAME.mesk_backup_SIZE.EXT.
std::string temporary_file_name(const std::string& safe_name);
std::string backup_file_name(const std::string& safe_name, std::uint64_t size);

}  // namespace vandrel
