// The conversation with one peer: one page of up to 20 chats, newest first, with
// "feedback_for_peer" events while it loads; and erasing the conversation.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_get_chats_for_peer(Json params, std::string origin);
std::string handle_erase_chats_for_peer(Json params, std::string origin);

}  // namespace vandrel
