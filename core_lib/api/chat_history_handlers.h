// The conversation with one peer: one page of up to 20 chats, newest first, with
// "feedback_for_peer" events while it loads (ending with an empty text, also when the
// page fails); and erasing the conversation, which also forgets the peer's key.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

// "start" is read with read_offset: past the end (however far) gives an empty page.
std::string handle_get_chats_for_peer(Json params, std::string origin);
std::string handle_erase_chats_for_peer(Json params, std::string origin);

}  // namespace vandrel
