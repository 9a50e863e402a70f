// MIME type of a file by its name's extension (text after the last '.', lower-cased);
// "application/octet-stream" when unknown. The table is built once, thread-safely.
#pragma once

#include <string>
#include <unordered_map>

namespace vandrel {

std::string mime_type_for(const std::string& name);

// The extension table itself (built on first use, never changed afterwards).
const std::unordered_map<std::string, std::string>& mime_table();

}  // namespace vandrel
