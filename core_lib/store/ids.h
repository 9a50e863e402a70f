// Ids that name stored chats, transfers and files: letters, digits, '-', '_' and '.',
// never empty, so an id from a peer can be neither a path nor an injection.
#pragma once

#include <string>

namespace vandrel {

bool is_safe_id(const std::string& id);

}  // namespace vandrel
