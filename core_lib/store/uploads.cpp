#include "core_lib/store/uploads.h"

#include <algorithm>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/db_session.h"

namespace vandrel {

void db_store_upload(const std::vector<Json>& files, std::string account, std::string upload_id, std::string sender,
                     std::string receiver) {
    store_session session;
    db_transaction transaction(session.db());
    for (const Json& file : files) {
        const std::string now = decimal(now_ms());
        SQLite::Statement insert(session.db(),
                                 "insert or replace into files_to_send (id, filename, fileurl, filesize, date_created, "
                                 "date_updated, upload_id, receiver) values(?, ?, ?, ?, ?, ?,?, ?);");
        SQLite::bind(insert, file["id"].string_value(), file["filename"].string_value(), file["fileurl"].string_value(),
                     file["filesize"].string_value(), now, now, upload_id, receiver);
        insert.exec();
    }
    const std::string now = decimal(now_ms());
    SQLite::Statement insert(session.db(),
                             "insert or replace into uploads (id, sender, receiver, sent, date_created, date_updated, "
                             "account) values(?, ?, ?, ?, ?, ?, ?);");
    SQLite::bind(insert, upload_id, sender, receiver, std::string("false"), now, now, account);
    insert.exec();
    transaction.commit();
}

std::vector<Json> db_get_unsent_files_of_upload(std::string upload_id) {
    store_session session;
    SQLite::Statement select(
        session.db(),
        "select id, filename, filesize  from files_to_send where upload_id = ? and sent != 1 order by "
        "date_created asc limit 1000");
    select.bind(1, upload_id);
    std::vector<Json> result;
    while (select.executeStep()) {
        result.push_back(Json::object{{"id", column_text(select, 0)},
                                      {"filename", column_text(select, 1)},
                                      {"filesize", column_text(select, 2)}});
    }
    return result;
}

void db_mark_file_to_send_sent(const std::vector<std::string>& file_ids) {
    store_session session;
    db_transaction transaction(session.db());
    for (const std::string& id : file_ids) {
        SQLite::Statement update(session.db(), "update files_to_send set sent=1, date_updated = ? where id = ?");
        update.bind(1, decimal(now_ms()));
        update.bind(2, id);
        update.exec();
    }
    transaction.commit();
}

void db_reset_upload_for_resend(std::string upload_id) {
    store_session session;
    const std::string now = decimal(now_ms());
    // Both rows or neither: a half reset would announce files of a chat marked sent.
    db_transaction transaction(session.db());
    SQLite::Statement files(
        session.db(), "update files_to_send set sent=0, bytes_transferred = 0, date_updated = ? where upload_id = ?");
    files.bind(1, now);
    files.bind(2, upload_id);
    files.exec();
    SQLite::Statement chat(session.db(), "update chats set sent=0, date_updated = ? where id = ?");
    chat.bind(1, now);
    chat.bind(2, upload_id);
    chat.exec();
    transaction.commit();
}

void db_set_file_to_send_status(std::string file_id, std::string upload_id, std::string status) {
    store_session session;
    SQLite::Statement update(session.db(), "update files_to_send set status = ? where id = ? and upload_id = ?");
    SQLite::bind(update, status, file_id, upload_id);
    update.exec();
}

void db_set_upload_status(std::string upload_id, std::string status) {
    store_session session;
    db_transaction transaction(session.db());
    for (const char* sql : {"update files_to_send set status = ? where upload_id = ?",
                            "update chats set status = ? where id = ?", "update uploads set status = ? where id = ?"}) {
        SQLite::Statement update(session.db(), sql);
        update.bind(1, status);
        update.bind(2, upload_id);
        update.exec();
    }
    transaction.commit();
}

void db_stop_upload(std::string upload_id) {
    store_session session;
    SQLite::Statement update(session.db(), "update uploads set status = 'stopped' where id = ?");
    update.bind(1, upload_id);
    update.exec();
}

void db_set_file_to_send_progress(std::uint64_t bytes_transferred, std::string file_id) {
    store_session session;
    // A file the receiver confirmed stays complete.
    SQLite::Statement update(session.db(),
                             "update files_to_send set bytes_transferred = ? where id = ? and "
                             "coalesce(bytes_transferred, 0) < coalesce(filesize, 0)");
    update.bind(1, decimal(bytes_transferred));
    update.bind(2, file_id);
    update.exec();
}

void db_complete_file_to_send(const std::vector<Json>& files) {
    store_session session;
    std::string last_id;
    {
        db_transaction transaction(session.db());
        for (const Json& file : files) {
            last_id = file["id"].string_value();
            SQLite::Statement update(session.db(),
                                     "update files_to_send set bytes_transferred = filesize where id = ? ");
            update.bind(1, last_id);
            update.exec();
        }
        transaction.commit();
    }
    if (last_id.empty()) return;

    std::string receiver, filename;
    {
        SQLite::Statement select(session.db(), "select receiver, filename from files_to_send where id = ?");
        select.bind(1, last_id);
        while (select.executeStep()) {
            receiver = column_text(select, 0);
            filename = column_text(select, 1);
        }
    }
    if (receiver.empty()) return;

    const std::string now = decimal(now_ms());
    SQLite::Statement update(session.db(),
                             "update devices set last_message = ?, date_last_message = ?, date_updated = ?, unread = "
                             "(unread + 1) where id = ?");
    SQLite::bind(update, "_download_complete_" + filename, now, now, receiver);
    if (update.exec() > 0) session.after([] { send_to_ui(Json(Json::object{{"action", "peers_updated"}}).dump()); });
}

Json db_get_file_to_send(std::string file_id) {
    store_session session;
    SQLite::Statement select(
        session.db(),
        "select f.id, f.filename, f.filesize, f.fileurl, f.receiver, f.status, coalesce(u.status, '') from "
        "files_to_send f left join uploads u on u.id = f.upload_id where f.id = ? ");
    select.bind(1, file_id);
    Json result;
    while (select.executeStep()) {
        result = Json::object{
            {"id", column_text(select, 0)},
            {"filename", column_text(select, 1)},
            {"filesize", column_text(select, 2)},
            {"fileurl", column_text(select, 3)},
            {"receiver", column_text(select, 4)},
            {"status", column_text(select, 5)},
            {"upload_status", column_text(select, 6)},
        };
    }
    return result;
}

std::vector<Json> db_files_offered_to(const std::vector<std::string>& receivers, const std::vector<Json>& files) {
    store_session session;
    SQLite::Statement select(session.db(), "select receiver, upload_id from files_to_send where id = ?");
    std::vector<Json> offered;
    for (const Json& file : files) {
        select.bind(1, file["id"].string_value());
        while (select.executeStep()) {
            const std::string receiver = column_text(select, 0);
            const bool to_one_of_them = std::find(receivers.begin(), receivers.end(), receiver) != receivers.end();
            if (to_one_of_them && column_text(select, 1) == file["chat_id"].string_value()) offered.push_back(file);
        }
        select.reset();
    }
    return offered;
}

}  // namespace vandrel
