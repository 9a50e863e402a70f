#include "core_lib/store/received_files.h"

#include "core_lib/store/db_session.h"

namespace vandrel {

bool db_received_file_at(std::string storage_path, std::string file_id) {
    store_session session;
    SQLite::Statement select(session.db(),
                             "select 1 from files_to_receive where fileurl = ? collate nocase and id <> ? and "
                             "status in ('complete', 'complete_sent') limit 1");
    select.bind(1, storage_path);
    select.bind(2, file_id);
    return select.executeStep();
}

std::string db_received_file_path(std::string file_id) {
    store_session session;
    SQLite::Statement select(session.db(),
                             "select fileurl from files_to_receive where id = ? and status in ('complete', "
                             "'complete_sent')");
    select.bind(1, file_id);
    return select.executeStep() ? column_text(select, 0) : std::string();
}

void db_set_file_received_at(std::string file_id, std::string storage_path) {
    store_session session;
    SQLite::Statement update(session.db(), "update files_to_receive set fileurl = ? where id = ?");
    update.bind(1, storage_path);
    update.bind(2, file_id);
    update.exec();
}

}  // namespace vandrel
