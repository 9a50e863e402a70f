#include "core_lib/store/chats.h"

#include <optional>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/db_session.h"
#include "core_lib/store/ids.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

std::optional<std::string> stored_sender(SQLite::Database& db, const std::string& id) {
    SQLite::Statement select(db, "select sender from chats where id = ?");
    select.bind(1, id);
    std::optional<std::string> sender;
    while (select.executeStep()) sender = column_text(select, 0);
    return sender;
}

std::string single_text(SQLite::Database& db, const char* sql, const std::string& id) {
    SQLite::Statement select(db, sql);
    select.bind(1, id);
    std::string result;
    while (select.executeStep()) result = column_text(select, 0);
    return result;
}

}  // namespace

bool db_insert_chat(std::string account, std::string id, std::string sender, std::string receiver, std::string type,
                    std::string data) {
    if (!is_safe_id(id)) return false;
    const std::string own_id = get_userid();
    store_session session;
    db_transaction transaction(session.db());
    const std::string now = decimal(now_ms());

    const std::optional<std::string> previous_sender = stored_sender(session.db(), id);
    if (previous_sender && *previous_sender != sender) return false;

    SQLite::Statement insert(
        session.db(),
        "insert or replace into chats (id, sender, receiver, type, data, date_created, date_updated, "
        "account) values(?,?,?,?,?,?,?,?);");
    SQLite::bind(insert, id, sender, receiver, type, data, now, now, account);
    const int changed = insert.exec();

    if (changed > 0) {
        std::string message = data;
        if (type == "download") message = "_new_files";
        if (type == "upload") message = "_sent_some_files";
        const std::string& peer = sender == own_id ? receiver : sender;
        SQLite::Statement summary(
            session.db(), "update devices set last_message = ?,date_last_message = ?, date_updated = ? where id = ?");
        SQLite::bind(summary, message, now, now, peer);
        summary.exec();

        if (sender != own_id && !previous_sender) {
            try {
                SQLite::Statement unread(session.db(), "update devices set unread = (unread + 1) where id = ?");
                unread.bind(1, sender);
                unread.exec();
            } catch (const SQLite::Exception& e) {
                session.after([text = std::string(e.what())] { show_toast("sqlite", text); });
            }
        }
    }
    transaction.commit();
    if (changed > 0) keep_peer_ip(sender == own_id ? receiver : sender);
    return changed > 0;
}

bool db_mark_chat_failed(std::string id) {
    store_session session;
    SQLite::Statement update(session.db(), "update chats set status = 'failed', date_updated = ? where id = ?");
    update.bind(1, decimal(now_ms()));
    update.bind(2, id);
    return update.exec() > 0;
}

bool db_mark_chat_sent(std::string id) {
    store_session session;
    SQLite::Statement update(session.db(), "update chats set sent=1, date_updated = ? where id = ?");
    update.bind(1, decimal(now_ms()));
    update.bind(2, id);
    update.exec();
    return true;
}

bool db_chat_stored(std::string id, std::string sender) {
    store_session session;
    return stored_sender(session.db(), id) == sender;
}

std::vector<Json> db_get_unsent_chats(std::string receiver, std::string type) {
    store_session session;
    SQLite::Statement select(
        session.db(),
        "select id, sender, receiver, type, data, account  from chats where receiver = ? and sent != 1 "
        "and status != 'failed' and type = ? order by date_created asc limit 10");
    select.bind(1, receiver);
    select.bind(2, type);
    std::vector<Json> result;
    while (select.executeStep()) {
        result.push_back(Json::object{
            {"id", column_text(select, 0)},
            {"sender", column_text(select, 1)},
            {"receiver", column_text(select, 2)},
            {"type", column_text(select, 3)},
            {"data", column_text(select, 4)},
            {"account", column_text(select, 5)},
        });
    }
    return result;
}

std::string db_get_chat_receiver(std::string id) {
    store_session session;
    return single_text(session.db(), "select receiver from chats where id = ?", id);
}

std::string db_get_chat_sender(std::string id) {
    store_session session;
    return single_text(session.db(), "select sender from chats where id = ?", id);
}

void db_delete_chats_with_peer(std::string peer) {
    store_session session;
    SQLite::Statement remove(session.db(), "delete from chats where (sender = ? or receiver = ?);");
    remove.bind(1, peer);
    remove.bind(2, peer);
    remove.exec();
}

bool db_chat_id_free_for(std::string id, std::string sender) {
    if (!is_safe_id(id)) return false;
    store_session session;
    const std::optional<std::string> previous_sender = stored_sender(session.db(), id);
    return !previous_sender || *previous_sender == sender;
}

}  // namespace vandrel
