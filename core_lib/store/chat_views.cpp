#include "core_lib/store/chat_views.h"

#include <cstdint>
#include <exception>

#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/db_session.h"

namespace vandrel {

namespace {

constexpr int chat_view_file_limit = 10;

std::uint64_t stored_size(const std::string& text) {
    try {
        return std::stoull(text);
    } catch (const std::exception&) {
        return 0;
    }
}

std::string unsigned_text(std::int64_t value) { return std::to_string(static_cast<unsigned long long>(value)); }

void add_upload_thumbnail(Json::object& entry, const std::string& id, const std::string& filename,
                          const std::string& filesize) {
    const bool has_thumbnail = stored_size(filesize) > 0 && is_thumbnail_image(filename);
    entry["has_thumbnail"] = has_thumbnail;
    entry["thumbnail"] = has_thumbnail ? thumbnail_upload_prefix + id : std::string();
}

void add_download_thumbnail(Json::object& entry, const std::string& id, const std::string& filename,
                            const std::string& fileurl) {
    const bool image = is_thumbnail_image(filename);
    entry["has_thumbnail"] = image;
    if (!image) {
        entry["thumbnail"] = "";
    } else if (get_file_size(fileurl) == 0) {
        entry["thumbnail"] = missing_image;
    } else {
        entry["thumbnail"] = thumbnail_download_prefix + id;
    }
}

struct transfer_tables {
    const char* summary;
    const char* files;
};

constexpr transfer_tables upload_tables = {
    "select  count(*) as ccount, sum(filesize) as ssum, min(filename) as minfilename , max(filename) as maxfilename, "
    "sum(bytes_transferred) as bsum from files_to_send where upload_id = ? ",
    "select id, filename, filesize, date_created, bytes_transferred, sent, fileurl,status  from files_to_send where "
    "upload_id = ? order by date_created asc, id asc limit ?  ;",
};

constexpr transfer_tables download_tables = {
    "select  count(*) as ccount, sum(filesize) as ssum, min(filename) as minfilename , max(filename) as maxfilename, "
    "sum(bytes_transferred) as bsum from files_to_receive where download_id = ? ",
    "select id, filename, filesize, date_created, bytes_transferred, sent, fileurl  from files_to_receive where "
    "download_id = ? order by date_created asc, id asc limit ?  ;",
};

// Fills "info" and "files" of a transfer chat.
void add_transfer(SQLite::Database& db, const std::string& id, const std::string& type, Json& info,
                  Json::array& files) {
    const bool upload = type == "upload";
    const transfer_tables& tables = upload ? upload_tables : download_tables;

    std::int64_t count = 0, size_sum = 0, bytes_sum = 0;
    std::string min_name, max_name;
    {
        SQLite::Statement summary(db, tables.summary);
        summary.bind(1, id);
        while (summary.executeStep()) {
            count = column_int64(summary, 0);
            size_sum = column_int64(summary, 1);
            min_name = column_text(summary, 2);
            max_name = column_text(summary, 3);
            bytes_sum = column_int64(summary, 4);
        }
    }
    info = Json::object{
        {"type", type},
        {"number_of_files", unsigned_text(count)},
        {"size_of_files", unsigned_text(size_sum)},
        {"minfilename", min_name},
        {"maxfilename", max_name},
        {"bytes_transferred", unsigned_text(bytes_sum)},
    };
    if (static_cast<std::uint64_t>(count) > chat_view_file_limit) return;

    SQLite::Statement select(db, tables.files);
    select.bind(1, id);
    select.bind(2, std::to_string(chat_view_file_limit));
    while (select.executeStep()) {
        const std::string file_id = column_text(select, 0);
        const std::string filename = column_text(select, 1);
        const std::string filesize = column_text(select, 2);
        const std::string fileurl = column_text(select, 6);
        Json::object entry{
            {"id", file_id},
            {"filename", filename},
            {"filesize", filesize},
            {"date_created", column_text(select, 3)},
            {"bytes_transferred", column_text(select, 4)},
            {"sent", column_text(select, 5)},
            {"filepath", fileurl},
            {"type", type},
        };
        if (upload) {
            entry["status"] = column_text(select, 7);
            add_upload_thumbnail(entry, file_id, filename, filesize);
        } else {
            add_download_thumbnail(entry, file_id, filename, fileurl);
        }
        files.push_back(Json(std::move(entry)));
    }
}

Json file_urls(const char* sql, const std::string& id, int page_size, int page) {
    store_session session;
    SQLite::Statement select(session.db(), sql);
    SQLite::bind(select, id, page_size, static_cast<std::int64_t>(page) * page_size);
    Json::array result;
    while (select.executeStep()) {
        result.push_back(Json::object{{"id", column_text(select, 0)}, {"fileurl", column_text(select, 1)}});
    }
    return Json(std::move(result));
}

}  // namespace

bool is_thumbnail_image(const std::string& file_name) {
    const std::size_t dot = file_name.rfind('.');
    const std::string extension = to_lower(dot == std::string::npos ? file_name : file_name.substr(dot + 1));
    return extension == "jpg" || extension == "jpeg" || extension == "png";
}

Json db_get_chat_json(std::string id) {
    store_session session;
    return db_get_chat_json(std::move(id), session.db());
}

Json db_get_chat_json(std::string id, SQLite::Database& connection) {
    std::string sender, receiver, type, data, date_created, date_updated, account, sent, status;
    {
        SQLite::Statement select(connection,
                                 "select id, sender, receiver, type, data,  date_created, date_updated, account, sent, "
                                 "status from chats where id = ?");
        select.bind(1, id);
        while (select.executeStep()) {
            sender = column_text(select, 1);
            receiver = column_text(select, 2);
            type = column_text(select, 3);
            data = column_text(select, 4);
            date_created = column_text(select, 5);
            date_updated = column_text(select, 6);
            account = column_text(select, 7);
            sent = column_text(select, 8);
            status = column_text(select, 9);
        }
    }
    Json info;
    Json::array files;
    if (type == "upload" || type == "download") add_transfer(connection, id, type, info, files);
    return Json::object{
        {"id", id},
        {"sender", sender},
        {"receiver", receiver},
        {"type", type},
        {"data", data},
        {"info", info},
        {"files", Json(std::move(files))},
        {"account", account},
        {"date_created", date_created},
        {"date_updated", date_updated},
        {"sent", sent},
        {"status", status},
    };
}

Json db_get_transfer_file_json(std::string file_id, std::string type) {
    store_session session;
    const bool upload = type == "upload";
    if (!upload && type != "download") return Json();
    SQLite::Statement select(
        session.db(), upload ? "select id, filename, filesize, bytes_transferred, date_created, sent, fileurl from "
                               "files_to_send where id = ?"
                             : "select id, filename, filesize, bytes_transferred, date_created, sent, fileurl from "
                               "files_to_receive where id = ?");
    select.bind(1, file_id);
    Json result;
    while (select.executeStep()) {
        const std::string id = column_text(select, 0);
        const std::string filename = column_text(select, 1);
        const std::string filesize = column_text(select, 2);
        std::string filepath = column_text(select, 6);
        Json::object view{
            {"id", id},
            {"filename", filename},
            {"filesize", filesize},
            {"bytes_transferred", column_text(select, 3)},
            {"date_created", column_text(select, 4)},
            {"sent", column_text(select, 5)},
            {"type", type},
        };
        if (upload) {
            add_upload_thumbnail(view, id, filename, filesize);
        } else {
            add_download_thumbnail(view, id, filename, filepath);
            if (filepath.empty()) filepath = download_target_for_file(filename);
        }
        view["filepath"] = filepath;
        result = Json(std::move(view));
    }
    return result;
}

Json db_get_upload_file_urls(std::string upload_id, int page_size, int page) {
    return file_urls(
        "select id, fileurl from files_to_send where upload_id = ? order by date_created asc, id asc limit ? "
        "offset ? ;",
        upload_id, page_size, page);
}

Json db_get_download_file_urls(std::string download_id, int page_size, int page) {
    return file_urls(
        "select id, fileurl from files_to_receive where download_id = ? order by date_created asc, id asc "
        "limit ? offset ? ;",
        download_id, page_size, page);
}

}  // namespace vandrel
