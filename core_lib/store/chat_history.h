// One page of the conversation with a peer: up to 20 chat views of one account, newest
// first, built under one hold of db_lock. While it works it reports "feedback_for_peer"
// at most once a second, and clears the text when done.
#pragma once

#include <cstdint>
#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

inline constexpr int chat_history_page_size = 20;

Json db_get_chats_with_peer(std::uint64_t start, std::string account, std::string peer);

}  // namespace vandrel
