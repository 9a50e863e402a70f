// The chats table: every chat sent or received, with the peer's summary in devices
// kept up to date as chats are stored. A chat id belongs to the sender that first
// stored it: another sender can never overwrite it, and the same chat delivered again
// counts as unread once.
#pragma once

#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Stores (or, for the same sender, replaces) the chat and updates the peer's summary;
// an incoming chat raises the sender's unread count when it is new. False when nothing
// was written: an unsafe id, or an id held by another sender. Reads the own id first,
// so it must not be called while holding db_lock.
bool db_insert_chat(std::string account, std::string id, std::string sender, std::string receiver, std::string type,
                    std::string data);
bool db_mark_chat_sent(std::string id);
// A chat the peer refused for good (its format or a limit): never offered again.
// False when no such chat is stored.
bool db_mark_chat_failed(std::string id);
// Whether db_insert_chat would take the id from that sender: safe, and free or already
// that sender's. Reads only.
bool db_chat_id_free_for(std::string id, std::string sender);
// Whether a chat of that id is stored as that sender's. Reads only.
bool db_chat_stored(std::string id, std::string sender);
// Undelivered chats (neither sent nor failed) of that type to that receiver, oldest first, at most 10:
// {"id", "sender", "receiver", "type", "data", "account"}.
std::vector<Json> db_get_unsent_chats(std::string receiver, std::string type);
std::string db_get_chat_receiver(std::string id);
std::string db_get_chat_sender(std::string id);
// Deletes the chats in both directions; nothing else.
void db_delete_chats_with_peer(std::string peer);

}  // namespace vandrel
