#include "core_lib/store/downloads.h"

#include <optional>
#include <set>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/db_session.h"
#include "core_lib/store/ids.h"
#include "core_lib/store/service_flags.h"

namespace vandrel {

namespace {

// The sender of the row with that id, or nothing when there is no row.
std::optional<std::string> owner_of(SQLite::Database& db, const char* sql, const std::string& id) {
    SQLite::Statement select(db, sql);
    select.bind(1, id);
    std::optional<std::string> sender;
    while (select.executeStep()) sender = column_text(select, 0);
    return sender;
}

bool held_by_other(SQLite::Database& db, const char* sql, const std::string& id, const std::string& sender) {
    const std::optional<std::string> owner = owner_of(db, sql, id);
    return owner && *owner != sender;
}

bool may_store(SQLite::Database& db, const std::vector<Json>& files, const std::string& download_id,
               const std::string& sender) {
    if (!is_safe_id(download_id)) return false;
    if (held_by_other(db, "select sender from downloads where id = ?", download_id, sender)) return false;
    if (held_by_other(db, "select sender from chats where id = ?", download_id, sender)) return false;
    for (const Json& file : files) {
        const std::string& id = file["id"].string_value();
        if (!is_safe_id(id)) return false;
        if (held_by_other(db, "select sender from files_to_receive where id = ?", id, sender)) return false;
    }
    return true;
}

const char* status_statement(const std::string& status, const char* queued_sql, const char* other_sql) {
    return status == "queued" ? queued_sql : other_sql;
}

bool is_complete(const std::string& status) { return status == "complete" || status == "complete_sent"; }

// A received file is never taken back to the queue or stopped.
bool reopens(const std::string& status) { return status == "queued" || status == "stopped"; }

// Files of this download that already arrived: a repeated delivery leaves them alone.
std::set<std::string> arrived_files(SQLite::Database& db, const std::string& download_id) {
    SQLite::Statement select(
        db, "select id from files_to_receive where download_id = ? and status in ('complete', 'complete_sent')");
    select.bind(1, download_id);
    std::set<std::string> ids;
    while (select.executeStep()) ids.insert(column_text(select, 0));
    return ids;
}

}  // namespace

bool db_store_download(const std::vector<Json>& files, std::string account, std::string download_id, std::string sender,
                       std::string receiver) {
    store_session session;
    {
        db_transaction transaction(session.db());
        if (!may_store(session.db(), files, download_id, sender)) return false;
        const std::set<std::string> arrived = arrived_files(session.db(), download_id);

        SQLite::Statement insert(
            session.db(),
            "insert or replace into files_to_receive (id, filename, filesize, sender, date_created, "
            "date_updated, fileurl, download_id) values(?,?, ?, ?, ?, ?, ?, ?);");
        for (const Json& file : files) {
            if (arrived.count(file["id"].string_value())) continue;
            const std::string now = decimal(now_ms());
            SQLite::bind(insert, file["id"].string_value(), file["filename"].string_value(),
                         file["filesize"].string_value(), sender, now, now, file["fileurl"].string_value(),
                         download_id);
            insert.exec();
            insert.reset();
            insert.clearBindings();
        }

        const std::string now = decimal(now_ms());
        SQLite::Statement download(session.db(),
                                   "insert or replace into downloads (id, sender, receiver, sent, date_created, "
                                   "date_updated, account) values(?, ?, ?, ?, ?, ?, ?);");
        SQLite::bind(download, download_id, sender, receiver, std::string("1"), now, now, account);
        download.exec();

        // The sender offers again what arrived (its "/resend" took every file back to no
        // bytes): it is told again that those arrived.
        SQLite::Statement tell_again(session.db(),
                                     "update files_to_receive set status = 'complete' where id = ? and download_id = ? "
                                     "and status = 'complete_sent'");
        for (const Json& file : files) {
            if (!arrived.count(file["id"].string_value())) continue;
            SQLite::bind(tell_again, file["id"].string_value(), download_id);
            tell_again.exec();
            tell_again.reset();
            tell_again.clearBindings();
        }

        SQLite::Statement queue(session.db(),
                                "update files_to_receive set status = ? where id = ? and download_id = ?");
        for (const Json& file : files) {
            if (arrived.count(file["id"].string_value())) continue;
            SQLite::bind(queue, std::string("queued"), file["id"].string_value(), download_id);
            queue.exec();
            queue.reset();
            queue.clearBindings();
        }
        transaction.commit();
    }
    set_downloads_pending(true);
    return true;
}

void db_set_file_received_status(std::string file_id, std::string download_id, std::string status) {
    store_session session;
    db_transaction transaction(session.db());

    std::optional<std::string> previous;
    std::string sender, filename;
    {
        SQLite::Statement select(
            session.db(), "select status, sender, filename from files_to_receive where id = ? and download_id = ?");
        select.bind(1, file_id);
        select.bind(2, download_id);
        while (select.executeStep()) {
            previous = column_text(select, 0);
            sender = column_text(select, 1);
            filename = column_text(select, 2);
        }
    }
    if (previous && is_complete(*previous) && reopens(status)) return;
    SQLite::Statement update(session.db(), "update files_to_receive set status = ? where id = ? and download_id = ?");
    SQLite::bind(update, status, file_id, download_id);
    const int changed = update.exec();

    const bool newly_complete = changed > 0 && status == "complete" && previous && !is_complete(*previous);
    bool device_changed = false;
    if (newly_complete && !sender.empty()) {
        const std::string now = decimal(now_ms());
        SQLite::Statement summary(
            session.db(),
            "update devices set last_message = ?, date_last_message = ?, date_updated = ?, unread = "
            "(unread + 1) where id = ?");
        SQLite::bind(summary, "_received_" + filename, now, now, sender);
        device_changed = summary.exec() > 0;
    }
    transaction.commit();
    if (device_changed) session.after([] { send_to_ui(Json(Json::object{{"action", "peers_updated"}}).dump()); });
}

void db_set_download_status(std::string download_id, std::string status) {
    store_session session;
    std::string sql =
        status_statement(status, "update files_to_receive set status = ?, bytes_transferred = 0 where download_id = ?",
                         "update files_to_receive set status = ? where download_id = ?");
    if (reopens(status)) sql += " and status not in ('complete', 'complete_sent')";
    SQLite::Statement update(session.db(), sql);
    update.bind(1, status);
    update.bind(2, download_id);
    update.exec();
}

void db_set_files_to_receive_status(std::string status, const std::vector<Json>& files) {
    store_session session;
    db_transaction transaction(session.db());
    SQLite::Statement update(
        session.db(),
        status_statement(status, "update files_to_receive set status = ?, bytes_transferred = 0 where id = ?",
                         "update files_to_receive set status = ? where id = ?"));
    for (const Json& file : files) {
        update.bind(1, status);
        update.bind(2, file["id"].string_value());
        update.exec();
        update.reset();
        update.clearBindings();
    }
    transaction.commit();
}

std::vector<Json> db_get_files_to_receive(std::string sender, std::string status, int limit) {
    store_session session;
    SQLite::Statement select(
        session.db(),
        "select id, bytes_transferred, filesize, download_id from files_to_receive where sender = ? and "
        "status = ? order by date_created desc, id desc limit ?");
    SQLite::bind(select, sender, status, std::to_string(limit));
    std::vector<Json> result;
    while (select.executeStep()) {
        result.push_back(Json::object{
            {"id", column_text(select, 0)},
            {"bytes_transferred", column_text(select, 1)},
            {"filesize", column_text(select, 2)},
            {"chat_id", column_text(select, 3)},
        });
    }
    return result;
}

Json db_get_next_queued_file_to_receive(std::string sender) {
    store_session session;
    // Among files stored in the same millisecond the one stored last comes first.
    SQLite::Statement select(
        session.db(),
        "select id, download_id from files_to_receive where status = 'queued' and sender = ? order by "
        "date_updated desc, rowid desc limit 1");
    select.bind(1, sender);
    Json result;
    while (select.executeStep()) {
        result = Json::object{{"file_id", column_text(select, 0)}, {"download_id", column_text(select, 1)}};
    }
    return result;
}

void db_set_file_to_receive_progress(std::uint64_t bytes, std::string file_id) {
    store_session session;
    SQLite::Statement update(session.db(), "update files_to_receive set bytes_transferred = ? where id = ? ");
    update.bind(1, decimal(bytes));
    update.bind(2, file_id);
    update.exec();
}

Json db_get_file_to_receive(std::string file_id) {
    store_session session;
    SQLite::Statement select(session.db(),
                             "select id, filename, filesize, sender, fileurl from files_to_receive where id = ? ");
    select.bind(1, file_id);
    Json result;
    while (select.executeStep()) {
        result = Json::object{
            {"id", column_text(select, 0)},       {"filename", column_text(select, 1)},
            {"filesize", column_text(select, 2)}, {"sender", column_text(select, 3)},
            {"fileurl", column_text(select, 4)},
        };
    }
    return result;
}

std::vector<Json> db_get_downloads_from_sender(std::uint64_t since, std::string sender) {
    store_session session;
    std::string sql =
        "select id, sender, receiver, date_created, date_updated, account from downloads where sender = ? ";
    if (since != 0) sql += " and (date_created > " + decimal(since) + ") ";
    sql += "   order by date_created desc limit 100";
    SQLite::Statement select(session.db(), sql);
    select.bind(1, sender);

    SQLite::Statement file_ids(session.db(), "select id from files_to_receive where download_id = ? order by id asc");
    SQLite::Statement file(session.db(),
                           "select filename, filesize, sender from files_to_receive where (id = ?) order by id  asc;");
    std::vector<Json> result;
    while (select.executeStep()) {
        const std::string id = column_text(select, 0);
        Json::array files;
        file_ids.bind(1, id);
        while (file_ids.executeStep()) {
            const std::string file_id = column_text(file_ids, 0);
            file.bind(1, file_id);
            while (file.executeStep()) {
                files.push_back(Json::object{{"id", file_id},
                                             {"filename", column_text(file, 0)},
                                             {"filesize", column_text(file, 1)},
                                             {"sender", column_text(file, 2)}});
            }
            file.reset();
        }
        file_ids.reset();
        result.push_back(Json::object{
            {"id", id},
            {"sender", column_text(select, 1)},
            {"receiver", column_text(select, 2)},
            {"date_created", column_text(select, 3)},
            {"date_updated", column_text(select, 4)},
            {"account", column_text(select, 5)},
            {"files", Json(std::move(files))},
        });
    }
    return result;
}

bool db_may_store_download(const std::vector<Json>& files, std::string download_id, std::string sender) {
    store_session session;
    return may_store(session.db(), files, download_id, sender);
}

}  // namespace vandrel
