// Analytics events waiting for the cloud upload. db_take_events_after hands out the
// oldest batch and deletes only events that this core handed out and that the
// watermark `since` confirms; an event never handed out is never deleted, also when it
// is stored late with a time at or before the watermark. What was handed out is known
// only to the running core: events handed out by an earlier process and not deleted are
// handed out again (at least once rather than never). The events upload is the one
// caller of db_take_events_after.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "core_lib/foundation/json.h"

namespace vandrel {

inline constexpr std::size_t events_batch_size = 100;

// Guarded by db_lock. Rows handed out by this core and not yet confirmed: rowid to the
// date_created it had then (a rowid freed by another delete may come back for a new row).
struct event_bookkeeping {
    std::map<std::int64_t, std::int64_t> handed_out;
};

// Stores the event when its "date_created" is a text of exactly 13 characters;
// otherwise, or when the statement fails, stores nothing. Throws only when the
// database cannot be reached.
void db_store_event(Json event);

// Deletes the events this core handed out whose date is at or before `since` (the
// cloud's confirmation), and no other; then returns the oldest waiting events, at most
// 100 unless more share the last millisecond: a batch never ends inside a millisecond,
// so the watermark never covers part of one. Rows whose text is not JSON are handed
// out unread (and go with the next confirmation). Throws only when the database cannot
// be reached.
std::vector<Json> db_take_events_after(std::uint64_t since);

// Forgets which events were handed out (the database is being closed).
void events_forget_handed_out();

}  // namespace vandrel
