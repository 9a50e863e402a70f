// The devices table: one row per peer met, with its alias, system text, last stored
// address, avatar, mirroring flag, chat summary (last message, its time, unread) and the
// digest of its public key.
// Device records hold only JSON strings; "ip" is where the peer was seen while the
// core runs (the peer directory), not the stored last_ip.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

// Distinct non-empty stored addresses, most recently updated device first, at most 10;
// on a failure, what was read so far.
std::vector<std::string> db_get_recent_peer_ips();
std::string db_get_device_last_ip(std::string id);
int db_get_total_unread();
bool db_get_device_send_notifications(std::string id);
// Full records of the rows updated after `since` (every row for 0).
std::vector<Json> db_get_devices_updated_since(std::uint64_t since);
// Short record {"id", "alias", "sys_info", "date_updated", "ip"}, or null.
Json db_get_device(std::string id);

// Writes the row when it is new or its alias or address changed, keeping the summary,
// avatar and mirroring flag; then sends "peers_updated". Failures are swallowed.
void db_upsert_device(std::string id, std::string sys_info, std::string alias, std::string ip);
// Stores the picture while all pictures together stay within limits::avatar_total_bytes;
// to make room it clears the pictures of devices this one has no chats with, oldest
// first. False when the picture was not stored.
bool db_set_device_avatar(std::string id, std::string avatar);
// Sends "peers_updated" always.
void db_set_device_send_notifications(int value, std::string id);
void db_touch_device(std::string id);

// The SHA-256 of the public key the peer showed when this device first reached it, or
// "" (none yet, or forgotten). Setting "" forgets it; false when there is no such row.
std::string db_get_device_key(std::string id);
bool db_set_device_key(std::string id, std::string key);
// Pins the key unless one is pinned already (making the row when there is none), in
// one step; returns the key pinned afterwards, which differs from `key` when the peer
// had shown another one before.
std::string db_pin_device_key(std::string id, std::string key);
void db_mark_device_read(std::string id);

// True when a chat or a transfer with the device is stored: what this device has with
// a peer that newcomers never push out.
bool db_device_has_history(std::string id);
// Room for one more device row: while the table holds limits::stored_devices rows or
// more, the oldest without a pinned key and then the oldest otherwise goes, never one
// with history. False when none may go.
bool db_make_room_for_device();

}  // namespace vandrel
