#include "core_lib/store/purge.h"

#include "core_lib/foundation/clock_random.h"
#include "core_lib/store/db_session.h"

namespace vandrel {

void db_purge_old_records() { db_purge_records_before(now_ms() - retention_ms); }

void db_purge_records_before(std::int64_t cut_off) {
    const std::string cut_off_text = decimal(static_cast<std::uint64_t>(cut_off));
    store_session session;
    db_transaction transaction(session.db());
    for (const char* sql : {
             "delete from files_to_receive where date_created < ?",
             "delete from files_to_send where date_created < ?",
             "delete from chats where date_created < ?",
             "delete from devices where date_updated < ?",
             "delete from downloads where date_created < ?",
             "delete from uploads where date_created < ?",
             "delete from events where date_created < ?",
         }) {
        SQLite::Statement remove(session.db(), sql);
        remove.bind(1, cut_off_text);
        remove.exec();
    }
    transaction.commit();
}

}  // namespace vandrel
