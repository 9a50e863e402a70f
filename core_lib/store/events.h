// Analytics events waiting for the cloud upload. db_take_events_after hands out the
// oldest batch and deletes only events that were handed out and are confirmed by the
// watermark `since`, so every stored event leaves exactly once, also when many share a
// millisecond or one is stored late with an older time. The events upload is the one
// caller of db_take_events_after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

inline constexpr std::size_t events_batch_size = 100;

// Guarded by db_lock. Rows handed out by this core and not yet confirmed; before its
// first take the watermark alone says what was sent.
struct event_bookkeeping {
    std::set<std::int64_t> handed_out;
    bool taken_before = false;
};

// Stores the event when its "date_created" is a text of exactly 13 characters;
// otherwise, or when the statement fails, stores nothing. Throws only when the
// database cannot be reached.
void db_store_event(Json event);

// Deletes the handed-out events at or before `since` (the cloud's confirmation), then
// returns the oldest waiting events, at most 100 unless more share the last
// millisecond: a batch never ends inside a millisecond, so the watermark never
// covers an event that was not sent. Rows whose text is not JSON are skipped (and go
// with the next confirmation). Throws only when the database cannot be reached.
std::vector<Json> db_take_events_after(std::uint64_t since);

// Forgets which events were handed out (the database is being closed).
void events_forget_handed_out();

}  // namespace vandrel
