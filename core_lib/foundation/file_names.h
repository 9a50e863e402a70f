// File names that come from elsewhere (a peer's offer, a picked file) made safe to
// create: the one rule for the name of a received file.
#pragma once

#include <cstddef>
#include <string>

namespace vandrel {

// The name without any of < > : " \ | ? * and without "../". "/" stays.
std::string sanitize_file_name(std::string name);

constexpr std::size_t max_file_name_bytes = 255;

// The one name under which a received file is stored: sanitised, only what follows the
// last "/", no control bytes, bytes that are not UTF-8 replaced by "_", never "", "." or
// ".." (those become "file"), and at most max_bytes long: a longer name is cut on a
// character boundary, keeping its extension (up to 32 bytes) when it has one. Callers
// that derive longer names from it (temporary, backup) pass a smaller max_bytes.
std::string safe_file_name(const std::string& name, std::size_t max_bytes = max_file_name_bytes);

}  // namespace vandrel
