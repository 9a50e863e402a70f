#include "core_lib/store/shared_pending.h"

#include "core_lib/foundation/sha256.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/db_session.h"
#include "core_lib/store/service_flags.h"

namespace vandrel {

namespace {

void add_pending(const std::vector<std::string>& paths, const char* sql) {
    store_session session;
    db_transaction transaction(session.db());
    SQLite::Statement insert(session.db(), sql);
    for (const std::string& path : paths) {
        insert.bind(1, path);
        insert.exec();
        insert.reset();
        insert.clearBindings();
    }
    transaction.commit();
}

std::vector<Json> read_pending(SQLite::Database& db) {
    SQLite::Statement select(db, "select id, is_folder from pending_files where 1");
    std::vector<Json> result;
    while (select.executeStep()) {
        result.push_back(Json::object{{"path", column_text(select, 0)}, {"is_folder", select.getColumn(1).getInt()}});
    }
    return result;
}

}  // namespace

void db_add_shared_files(const std::vector<Json>& entries) {
    store_session session;
    {
        db_transaction transaction(session.db());
        SQLite::Statement insert(session.db(),
                                 "insert or ignore into shared_files (id, path, type, name) values(?, ?, 'file', ?);");
        for (const Json& entry : entries) {
            const std::string path = entry["fileurl"].string_value();
            SQLite::bind(insert, sha256_hex(path), path, entry["filename"].string_value());
            insert.exec();
            insert.reset();
            insert.clearBindings();
        }
        transaction.commit();
    }
    session.after([] { send_to_ui(Json(Json::object{{"action", "shared_files_updated"}}).dump()); });
    raise_shared_files_changed();
}

void db_remove_shared_file(std::string id) {
    store_session session;
    {
        db_transaction transaction(session.db());
        SQLite::Statement remove(session.db(), "delete from shared_files where id = ?");
        remove.bind(1, id);
        remove.exec();
        transaction.commit();
    }
    raise_shared_files_changed();
}

std::vector<Json> db_get_shared_files() {
    store_session session;
    SQLite::Statement select(session.db(),
                             "select id, type, path, name from shared_files where 1 order by lower(name) asc;");
    std::vector<Json> result;
    while (select.executeStep()) {
        result.push_back(Json::object{
            {"id", column_text(select, 0)}, {"name", column_text(select, 3)}, {"type", column_text(select, 1)}});
    }
    return result;
}

Json db_get_shared_file(std::string id) {
    store_session session;
    SQLite::Statement select(session.db(), "select id, name, path from shared_files where id = ? ");
    select.bind(1, id);
    Json result;
    while (select.executeStep()) {
        result = Json::object{
            {"id", column_text(select, 0)}, {"filename", column_text(select, 1)}, {"fileurl", column_text(select, 2)}};
    }
    return result;
}

void db_add_pending_file(const std::vector<std::string>& paths) {
    add_pending(paths, "insert or ignore into pending_files (id, is_folder) values(?, 0);");
}

void db_add_pending_folder(const std::vector<std::string>& paths) {
    add_pending(paths, "insert or ignore into pending_files (id, is_folder) values(?, 1);");
}

void db_clear_pending_files() {
    store_session session;
    SQLite::Statement remove(session.db(), "delete from pending_files where 1");
    remove.exec();
}

std::vector<Json> db_get_pending_files() {
    store_session session;
    return read_pending(session.db());
}

std::vector<Json> db_take_pending_files() {
    store_session session;
    db_transaction transaction(session.db());
    std::vector<Json> result = read_pending(session.db());
    SQLite::Statement remove(session.db(), "delete from pending_files where 1");
    remove.exec();
    transaction.commit();
    return result;
}

}  // namespace vandrel
