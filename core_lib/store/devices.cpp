#include "core_lib/store/devices.h"

#include <exception>
#include <optional>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/db_session.h"
#include "core_lib/store/peer_addresses.h"

namespace vandrel {

namespace {

// The condition on a row `d` of devices that no chat or transfer names it.
constexpr const char* without_history =
    "not exists (select 1 from chats where sender = d.id or receiver = d.id) and "
    "not exists (select 1 from uploads where receiver = d.id) and "
    "not exists (select 1 from downloads where sender = d.id)";

void send_peers_updated() { send_to_ui(Json(Json::object{{"action", "peers_updated"}}).dump()); }

}  // namespace

std::vector<std::string> db_get_recent_peer_ips() {
    store_session session;
    std::vector<std::string> result;
    try {
        SQLite::Statement select(
            session.db(),
            "select distinct last_ip from devices where last_ip <>  '' order by date_updated desc limit 10");
        while (select.executeStep()) result.push_back(column_text(select, 0));
    } catch (const std::exception&) {}
    return result;
}

std::string db_get_device_last_ip(std::string id) {
    store_session session;
    std::string result;
    SQLite::Statement select(session.db(), "select  last_ip from devices where id = ?");
    select.bind(1, id);
    while (select.executeStep()) result = column_text(select, 0);
    return result;
}

int db_get_total_unread() {
    store_session session;
    SQLite::Statement select(session.db(), "select sum(unread) from devices;");
    int total = 0;
    while (select.executeStep()) total = static_cast<int>(column_int64(select, 0));
    return total;
}

bool db_get_device_send_notifications(std::string id) {
    store_session session;
    SQLite::Statement select(session.db(), "select send_notifications from devices where id = ?");
    select.bind(1, id);
    bool result = false;
    while (select.executeStep()) result = column_int64(select, 0) == 1;
    return result;
}

std::vector<Json> db_get_devices_updated_since(std::uint64_t since) {
    store_session session;
    const std::string sql = std::string(
                                "select id, alias, sysinfo, date_updated, last_message, date_last_message, unread, "
                                "last_ip, avatar, send_notifications from devices where date_updated ") +
                            (since != 0 ? ">" : ">=") + " ?";
    SQLite::Statement select(session.db(), sql);
    select.bind(1, decimal(since));
    std::vector<Json> result;
    while (select.executeStep()) {
        const std::string id = column_text(select, 0);
        result.push_back(Json::object{
            {"id", id},
            {"alias", column_text(select, 1)},
            {"sys_info", column_text(select, 2)},
            {"date_updated", column_text(select, 3)},
            {"last_message", column_text(select, 4)},
            {"date_last_message", column_text(select, 5)},
            {"unread", column_text(select, 6)},
            {"ip", get_peer_ip(id)},
            {"avatar", column_text(select, 8)},
            {"send_notifications", column_text(select, 9)},
        });
    }
    return result;
}

Json db_get_device(std::string id) {
    store_session session;
    SQLite::Statement select(session.db(),
                             "select id, alias, sysinfo, date_updated, last_ip from devices where id = ?");
    select.bind(1, id);
    Json result;
    while (select.executeStep()) {
        const std::string row_id = column_text(select, 0);
        result = Json::object{
            {"id", row_id},
            {"alias", column_text(select, 1)},
            {"sys_info", column_text(select, 2)},
            {"date_updated", column_text(select, 3)},
            {"ip", get_peer_ip(row_id)},
        };
    }
    return result;
}

void db_upsert_device(std::string id, std::string sys_info, std::string alias, std::string ip) {
    {
        store_session session;
        const std::string now = decimal(now_ms());
        try {
            std::string stored_alias, last_message, date_last_message = "0", unread = "0", stored_ip, avatar,
                                                    send_notifications = "0", key;
            SQLite::Statement select(session.db(),
                                     "select alias, last_message, date_last_message, unread, last_ip, avatar, "
                                     "send_notifications, key_sha256 from devices where id = ?");
            select.bind(1, id);
            while (select.executeStep()) {
                stored_alias = column_text(select, 0);
                last_message = column_text(select, 1);
                date_last_message = column_text(select, 2);
                unread = column_text(select, 3);
                stored_ip = column_text(select, 4);
                avatar = column_text(select, 5);
                send_notifications = column_text(select, 6);
                key = column_text(select, 7);
            }
            if (stored_alias == alias && stored_ip == ip) return;

            db_transaction transaction(session.db());
            SQLite::Statement insert(session.db(),
                                     "insert or replace into devices (id, sysinfo, alias, date_updated, last_message, "
                                     "date_last_message, unread, last_ip, avatar, send_notifications, key_sha256) "
                                     "values(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?);");
            SQLite::bind(insert, id, sys_info, alias, now, last_message, date_last_message, unread, ip, avatar,
                         send_notifications, key);
            insert.exec();
            transaction.commit();
        } catch (const std::exception&) {
            // the row stays as it was; the interface still refreshes
        }
        session.after(send_peers_updated);
    }
}

bool db_set_device_avatar(std::string id, std::string avatar) {
    store_session session;
    try {
        db_transaction transaction(session.db());
        std::int64_t others = 0;
        SQLite::Statement total(session.db(), "select coalesce(sum(length(avatar)), 0) from devices where id <> ?");
        total.bind(1, id);
        while (total.executeStep()) others = column_int64(total, 0);
        const auto limit = static_cast<std::int64_t>(limits::avatar_total_bytes);
        const auto size = static_cast<std::int64_t>(avatar.size());
        if (others + size > limit) {
            SQLite::Statement spare(
                session.db(),
                std::string("select id, length(avatar) from devices d where avatar <> '' and id <> ? and ") +
                    without_history + " order by date_updated asc");
            spare.bind(1, id);
            std::vector<std::string> cleared;
            while (others + size > limit && spare.executeStep()) {
                cleared.push_back(column_text(spare, 0));
                others -= column_int64(spare, 1);
            }
            if (others + size > limit) return false;
            for (const std::string& other : cleared) {
                SQLite::Statement clear(session.db(), "update devices set avatar = '' where id = ?");
                clear.bind(1, other);
                clear.exec();
            }
        }
        SQLite::Statement update(session.db(), "update devices set avatar = ? where id = ?");
        update.bind(1, avatar);
        update.bind(2, id);
        const bool stored = update.exec() > 0;
        transaction.commit();
        return stored;
    } catch (const std::exception&) {
        return false;
    }
}

void db_set_device_send_notifications(int value, std::string id) {
    store_session session;
    try {
        SQLite::Statement update(session.db(), "update devices set send_notifications = ? where id = ?");
        update.bind(1, value);
        update.bind(2, id);
        update.exec();
    } catch (const std::exception&) {}
    session.after(send_peers_updated);
}

void db_touch_device(std::string id) {
    store_session session;
    try {
        SQLite::Statement update(session.db(), "update devices set date_updated = ? where id = ?");
        update.bind(1, decimal(now_ms()));
        update.bind(2, id);
        update.exec();
    } catch (const std::exception&) {}
}

void db_mark_device_read(std::string id) {
    store_session session;
    SQLite::Statement update(session.db(), "update devices set unread = 0, date_updated = ? where id = ?");
    update.bind(1, decimal(now_ms()));
    update.bind(2, id);
    update.exec();
}

std::string db_get_device_key(std::string id) {
    store_session session;
    SQLite::Statement select(session.db(), "select key_sha256 from devices where id = ?");
    select.bind(1, id);
    std::string key;
    while (select.executeStep()) key = column_text(select, 0);
    return key;
}

bool db_set_device_key(std::string id, std::string key) {
    store_session session;
    SQLite::Statement update(session.db(), "update devices set key_sha256 = ? where id = ?");
    update.bind(1, key);
    update.bind(2, id);
    return update.exec() > 0;
}

std::string db_pin_device_key(std::string id, std::string key) {
    store_session session;
    db_transaction transaction(session.db());
    SQLite::Statement insert(session.db(), "insert or ignore into devices (id) values(?)");
    insert.bind(1, id);
    insert.exec();
    SQLite::Statement pin(session.db(), "update devices set key_sha256 = ? where id = ? and key_sha256 = ''");
    pin.bind(1, key);
    pin.bind(2, id);
    pin.exec();
    SQLite::Statement select(session.db(), "select key_sha256 from devices where id = ?");
    select.bind(1, id);
    std::string pinned;
    while (select.executeStep()) pinned = column_text(select, 0);
    transaction.commit();
    return pinned;
}

bool db_device_has_history(std::string id) {
    store_session session;
    SQLite::Statement select(
        session.db(), std::string("select count(*) from (select ? as id) d where not (") + without_history + ")");
    select.bind(1, id);
    bool result = false;
    while (select.executeStep()) result = column_int64(select, 0) > 0;
    return result;
}

bool db_make_room_for_device() {
    store_session session;
    db_transaction transaction(session.db());
    std::int64_t rows = 0;
    SQLite::Statement count(session.db(), "select count(*) from devices");
    while (count.executeStep()) rows = column_int64(count, 0);
    const auto limit = static_cast<std::int64_t>(limits::stored_devices);
    if (rows < limit) return true;
    SQLite::Statement evict(session.db(),
                            std::string("delete from devices where id in (select id from devices d where ") +
                                without_history + " order by (key_sha256 <> '') asc, date_updated asc limit ?)");
    evict.bind(1, rows - limit + 1);
    const int gone = evict.exec();
    transaction.commit();
    return rows - gone < limit;
}

}  // namespace vandrel
