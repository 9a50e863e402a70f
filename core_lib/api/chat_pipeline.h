// The one way a chat enters the store ("/create_chat", and the handlers that build
// chats: "/mirror_notification", "/create_upload", "/create_download").
// handle_create_chat checks the request before it answers: an empty id, sender or
// receiver is answered with its error code, and a peer may neither speak for this
// device nor offer an upload ("forbidden"). A request of at most 100 serialised
// characters is stored before the reply; a longer one on the background pool.
#pragma once

#include <cstddef>
#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Serialised requests up to this length are processed before the reply.
inline constexpr std::size_t inline_chat_limit = 100;

std::string handle_create_chat(Json chat, std::string origin);

// "" when the chat may be processed, else the error code to answer: "empty_id",
// "empty_sender", "empty_receiver" or "forbidden".
std::string check_chat_request(const Json& chat, const std::string& origin);

// Stores the chat and its transfer, records its analytics event, tells the interface
// ("new_chat", a toast for an incoming chat) and wakes the resend loop for an outgoing
// one. Does nothing for a chat that check_chat_request refuses.
void process_chat(const Json& chat, const std::string& origin);

// Body of the background job of a long chat.
void run_process_chat(Json chat, std::string origin);

}  // namespace vandrel
