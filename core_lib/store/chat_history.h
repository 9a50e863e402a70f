// One page of the conversation with a peer: up to 20 chat views of one account, newest
// first. The rows are read under one hold of db_lock; the views are finished after it is
// released, reporting "feedback_for_peer" at most once a second while they take long.
// Every call ends with the closing event (an empty text), also when it fails.
#pragma once

#include <cstdint>
#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

inline constexpr int chat_history_page_size = 20;

// `start` chats are skipped; a start beyond the largest the database takes (2^63-1)
// counts as that largest one, so the page is empty. Throws SQLite::Exception when the
// rows cannot be read. Must not be called while holding db_lock.
Json db_get_chats_with_peer(std::uint64_t start, std::string account, std::string peer);

}  // namespace vandrel
