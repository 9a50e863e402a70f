#include "core_lib/store/config.h"

#include <mutex>
#include <optional>

#include "core_lib/store/db_session.h"

namespace vandrel {

namespace {

// db_lock only when asked for; the connection always.
class config_session {
public:
    explicit config_session(bool lock) {
        if (lock) {
            db_pool_prepare();
            lock_.emplace(db_lock());
        }
        connection_.emplace();
    }
    SQLite::Database& db() { return connection_->db(); }

private:
    std::optional<std::lock_guard<std::mutex>> lock_;
    std::optional<pooled_connection> connection_;
};

}  // namespace

void db_config_set(bool lock, std::string key, std::string value) {
    config_session session(lock);
    SQLite::Statement insert(session.db(), "insert or replace into config (config_key, config_value) values(?, ?);");
    insert.bind(1, key);
    insert.bind(2, value);
    insert.exec();
}

std::string db_config_get(bool lock, std::string key) {
    config_session session(lock);
    std::string result;
    SQLite::Statement select(session.db(), "select config_value from config where config_key = ?");
    select.bind(1, key);
    while (select.executeStep()) result = column_text(select, 0);
    return result;
}

void db_config_delete(bool lock, std::string key) {
    config_session session(lock);
    SQLite::Statement remove(session.db(), "delete from config  where config_key = ?");
    remove.bind(1, key);
    remove.exec();
}

}  // namespace vandrel
