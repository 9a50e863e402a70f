#include "core_lib/store/removals.h"

#include "core_lib/store/db_session.h"

namespace vandrel {

void db_delete_chat(std::string id, std::string sender) {
    store_session session;
    SQLite::Statement remove(session.db(), "delete from chats where id = ? and sender = ?");
    SQLite::bind(remove, id, sender);
    remove.exec();
}

void db_delete_upload(std::string upload_id, std::string sender) {
    store_session session;
    db_transaction transaction(session.db());
    SQLite::Statement files(session.db(),
                            "delete from files_to_send where upload_id = ? and exists "
                            "(select 1 from uploads where id = ? and sender = ?)");
    SQLite::bind(files, upload_id, upload_id, sender);
    files.exec();
    SQLite::Statement upload(session.db(), "delete from uploads where id = ? and sender = ?");
    SQLite::bind(upload, upload_id, sender);
    upload.exec();
    transaction.commit();
}

void db_delete_download(std::string download_id, std::string sender) {
    store_session session;
    db_transaction transaction(session.db());
    SQLite::Statement files(session.db(), "delete from files_to_receive where download_id = ? and sender = ?");
    SQLite::bind(files, download_id, sender);
    files.exec();
    SQLite::Statement download(session.db(), "delete from downloads where id = ? and sender = ?");
    SQLite::bind(download, download_id, sender);
    download.exec();
    transaction.commit();
}

void db_delete_device(std::string id) {
    store_session session;
    SQLite::Statement remove(session.db(), "delete from devices where id = ?");
    remove.bind(1, id);
    remove.exec();
}

}  // namespace vandrel
