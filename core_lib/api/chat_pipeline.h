// The one way a chat enters the store ("/create_chat", and the handlers that build
// chats: "/mirror_notification", "/create_upload", "/create_download").
// handle_create_chat checks the whole request before it answers, so that "success"
// means the chat is kept: an empty id, sender or receiver, an id that may name nothing
// stored or that another sender holds, and from a peer a text over its limit, too many
// files, a sender that is not the device proven at the request's address, a chat for
// another device or an offered upload, are each answered with their error code and
// nothing is kept. The interface's own chats meet the same limits (ids, text, offered
// files) with the same codes, since every peer would refuse them. Every chat is stored before the reply, so that a
// device that stops right after its "success" still has it: a request of at most 100 serialised characters on the
// caller's thread, a longer one on the chat lane, in the order of arrival ("busy" when its queue is full or the lane
// did not reach it within chat_lane_wait; it is kept then all the same, and a peer's delivery that is tried again finds
// it stored).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Serialised requests up to this length are processed on the caller's thread.
inline constexpr std::size_t inline_chat_limit = 100;
// How long a longer request waits for the chat lane to store it: within a peer's 30 s
// deadline for its call.
inline constexpr std::chrono::milliseconds chat_lane_wait{20000};

std::string handle_create_chat(Json chat, std::string origin);

// "" when the chat may be processed, else the error code to answer: "empty_id",
// "empty_sender", "empty_receiver", "invalid_id", "too_long", "too_many_files",
// "id_taken" or "forbidden". Reads the store and, for a sender not yet proven at the
// origin, proves it (a call to that address).
std::string check_chat_request(const Json& chat, const std::string& origin);

// The checks of check_chat_request that need neither the store nor the network, the
// limits included.
std::string check_chat_format(const Json& chat, const std::string& origin);

// Stores the chat and its transfer, records its analytics event, tells the interface
// ("new_chat", a toast for an incoming chat) and wakes the resend loop for an outgoing
// one. Does nothing for a chat that check_chat_format refuses.
void process_chat(const Json& chat, const std::string& origin);

// Body of the background job of a long chat.
void run_process_chat(Json chat, std::string origin);

}  // namespace vandrel
