#include "core_lib/store/progress.h"

#include "core_lib/store/db_session.h"

namespace vandrel {

namespace {

Json progress(const char* others_sql, const char* totals_sql, const std::string& transfer_id,
              const std::string& file_id) {
    store_session session;
    std::string bytes, count, size;
    {
        SQLite::Statement others(session.db(), others_sql);
        others.bind(1, transfer_id);
        others.bind(2, file_id);
        while (others.executeStep()) bytes = column_text(others, 0);
    }
    SQLite::Statement totals(session.db(), totals_sql);
    totals.bind(1, transfer_id);
    while (totals.executeStep()) {
        count = column_text(totals, 0);
        size = column_text(totals, 1);
    }
    return Json::object{{"number_of_files", count}, {"size_of_files", size}, {"bytes_transferred", bytes}};
}

}  // namespace

Json db_get_download_progress(std::string download_id, std::string file_id) {
    return progress("select sum(bytes_transferred) as ssum from files_to_receive where download_id = ? and id <> ?",
                    "select count(id), sum(filesize) as ssum from files_to_receive where download_id = ?", download_id,
                    file_id);
}

Json db_get_upload_progress(std::string upload_id, std::string file_id) {
    return progress("select sum(bytes_transferred) as ssum from files_to_send where upload_id = ? and id <> ?",
                    "select count(id), sum(filesize) as ssum from files_to_send where upload_id = ?", upload_id,
                    file_id);
}

}  // namespace vandrel
