#include "core_lib/store/events.h"

#include <exception>
#include <map>
#include <string>

#include "core_lib/store/db_session.h"
#include "core_lib/store/store_state.h"

namespace vandrel {

namespace {

event_bookkeeping& bookkeeping() { return current_store::get().events; }

struct stored_event {
    std::int64_t rowid = 0;
    std::string text;
    std::int64_t date_created = 0;
};

void delete_confirmed(SQLite::Database& db, std::uint64_t since) {
    std::map<std::int64_t, std::int64_t>& handed_out = bookkeeping().handed_out;
    SQLite::Statement remove(db, "delete from events where rowid = ? and cast(date_created as integer) = ?");
    for (auto it = handed_out.begin(); it != handed_out.end();) {
        if (it->second > static_cast<std::int64_t>(since)) {
            ++it;
            continue;
        }
        // The date must still match: a row that took over a freed rowid was never
        // handed out.
        SQLite::bind(remove, it->first, it->second);
        remove.exec();
        remove.reset();
        it = handed_out.erase(it);
    }
}

std::vector<stored_event> read_events(SQLite::Statement& select) {
    std::vector<stored_event> rows;
    while (select.executeStep()) {
        rows.push_back({column_int64(select, 0), column_text(select, 1), column_int64(select, 2)});
    }
    return rows;
}

std::vector<stored_event> oldest_batch(SQLite::Database& db) {
    SQLite::Statement select(
        db, "select rowid, event, date_created from events order by date_created asc, rowid asc limit ?");
    select.bind(1, static_cast<std::int64_t>(events_batch_size + 1));
    std::vector<stored_event> rows = read_events(select);
    if (rows.size() <= events_batch_size) return rows;

    const std::int64_t last_date = rows[events_batch_size - 1].date_created;
    if (rows[events_batch_size].date_created != last_date) {
        rows.resize(events_batch_size);
    } else if (rows.front().date_created != last_date) {
        rows.resize(events_batch_size);
        while (rows.back().date_created == last_date) rows.pop_back();
    } else {
        // One millisecond fills the whole batch: take all of it.
        SQLite::Statement same(
            db, "select rowid, event, date_created from events where date_created = ? order by rowid asc");
        same.bind(1, decimal(last_date));
        rows = read_events(same);
    }
    return rows;
}

}  // namespace

void db_store_event(Json event) {
    store_session session;
    try {
        const std::string date = event["date_created"].string_value();
        if (date.size() != 13) return;
        SQLite::Statement insert(session.db(),
                                 "insert or replace into events (id, event, date_created) values(?, ?, ?);");
        SQLite::bind(insert, date, event.dump(), date);
        insert.exec();
    } catch (const std::exception&) {
        // an event that cannot be stored is dropped
    }
}

std::vector<Json> db_take_events_after(std::uint64_t since) {
    store_session session;
    std::vector<Json> result;
    try {
        delete_confirmed(session.db(), since);
    } catch (const std::exception&) {
        // a failed delete leaves the events for the next confirmation
    }
    try {
        for (const stored_event& row : oldest_batch(session.db())) {
            bookkeeping().handed_out[row.rowid] = row.date_created;
            std::string err;
            Json parsed = Json::parse(row.text, err);
            if (err.empty()) result.push_back(std::move(parsed));
        }
    } catch (const std::exception&) {
        // the events read so far still go out
    }
    return result;
}

void events_forget_handed_out() {
    std::lock_guard<std::mutex> lock(db_lock());
    bookkeeping().handed_out.clear();
}

}  // namespace vandrel
