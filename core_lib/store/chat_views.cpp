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

void add_upload_thumbnail(Json::object& entry, const transfer_file_row& file) {
    const bool has_thumbnail = stored_size(file.filesize) > 0 && is_thumbnail_image(file.filename);
    entry["has_thumbnail"] = has_thumbnail;
    entry["thumbnail"] = has_thumbnail ? thumbnail_upload_prefix + file.id : std::string();
}

// Asks the platform for the file's size: never under db_lock.
void add_download_thumbnail(Json::object& entry, const transfer_file_row& file) {
    const bool image = is_thumbnail_image(file.filename);
    entry["has_thumbnail"] = image;
    if (!image) {
        entry["thumbnail"] = "";
    } else if (get_file_size(file.fileurl) == 0) {
        entry["thumbnail"] = missing_image;
    } else {
        entry["thumbnail"] = thumbnail_download_prefix + file.id;
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

// The summary and, unless there are more than ten, the files of a transfer chat.
void read_transfer(SQLite::Database& db, chat_view_rows& rows) {
    const bool upload = rows.type == "upload";
    const transfer_tables& tables = upload ? upload_tables : download_tables;

    transfer_summary_row summary_row;
    {
        SQLite::Statement summary(db, tables.summary);
        summary.bind(1, rows.id);
        while (summary.executeStep()) {
            summary_row.count = column_int64(summary, 0);
            summary_row.size_sum = column_int64(summary, 1);
            summary_row.min_name = column_text(summary, 2);
            summary_row.max_name = column_text(summary, 3);
            summary_row.bytes_sum = column_int64(summary, 4);
        }
    }
    const std::uint64_t count = static_cast<std::uint64_t>(summary_row.count);
    rows.transfer = std::move(summary_row);
    if (count > chat_view_file_limit) return;

    SQLite::Statement select(db, tables.files);
    select.bind(1, rows.id);
    select.bind(2, chat_view_file_limit);
    while (select.executeStep()) {
        rows.files.push_back({
            column_text(select, 0),
            column_text(select, 1),
            column_text(select, 2),
            column_text(select, 3),
            column_text(select, 4),
            column_text(select, 5),
            column_text(select, 6),
            upload ? column_text(select, 7) : std::string(),
        });
    }
}

Json transfer_info(const std::string& type, const transfer_summary_row& summary) {
    return Json::object{
        {"type", type},
        {"number_of_files", unsigned_text(summary.count)},
        {"size_of_files", unsigned_text(summary.size_sum)},
        {"minfilename", summary.min_name},
        {"maxfilename", summary.max_name},
        {"bytes_transferred", unsigned_text(summary.bytes_sum)},
    };
}

Json chat_file_entry(const transfer_file_row& file, const std::string& type) {
    Json::object entry{
        {"id", file.id},
        {"filename", file.filename},
        {"filesize", file.filesize},
        {"date_created", file.date_created},
        {"bytes_transferred", file.bytes_transferred},
        {"sent", file.sent},
        {"filepath", file.fileurl},
        {"type", type},
    };
    if (type == "upload") {
        entry["status"] = file.status;
        add_upload_thumbnail(entry, file);
    } else {
        add_download_thumbnail(entry, file);
    }
    return Json(std::move(entry));
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

chat_view_rows db_read_chat_view_rows(const std::string& id, SQLite::Database& connection) {
    chat_view_rows rows;
    rows.id = id;
    {
        SQLite::Statement select(connection,
                                 "select id, sender, receiver, type, data,  date_created, date_updated, account, sent, "
                                 "status from chats where id = ?");
        select.bind(1, id);
        while (select.executeStep()) {
            rows.sender = column_text(select, 1);
            rows.receiver = column_text(select, 2);
            rows.type = column_text(select, 3);
            rows.data = column_text(select, 4);
            rows.date_created = column_text(select, 5);
            rows.date_updated = column_text(select, 6);
            rows.account = column_text(select, 7);
            rows.sent = column_text(select, 8);
            rows.status = column_text(select, 9);
        }
    }
    if (rows.type == "upload" || rows.type == "download") read_transfer(connection, rows);
    return rows;
}

Json chat_view_json(const chat_view_rows& rows) {
    Json info;
    Json::array files;
    if (rows.transfer) {
        info = transfer_info(rows.type, *rows.transfer);
        for (const transfer_file_row& file : rows.files) files.push_back(chat_file_entry(file, rows.type));
    }
    return Json::object{
        {"id", rows.id},
        {"sender", rows.sender},
        {"receiver", rows.receiver},
        {"type", rows.type},
        {"data", rows.data},
        {"info", info},
        {"files", Json(std::move(files))},
        {"account", rows.account},
        {"date_created", rows.date_created},
        {"date_updated", rows.date_updated},
        {"sent", rows.sent},
        {"status", rows.status},
    };
}

Json db_get_chat_json(std::string id) {
    chat_view_rows rows;
    {
        store_session session;
        rows = db_read_chat_view_rows(id, session.db());
    }
    return chat_view_json(rows);
}

Json db_get_transfer_file_json(std::string file_id, std::string type) {
    const bool upload = type == "upload";
    if (!upload && type != "download") return Json();
    std::optional<transfer_file_row> file;
    {
        store_session session;
        SQLite::Statement select(
            session.db(), upload ? "select id, filename, filesize, bytes_transferred, date_created, sent, fileurl from "
                                   "files_to_send where id = ?"
                                 : "select id, filename, filesize, bytes_transferred, date_created, sent, fileurl from "
                                   "files_to_receive where id = ?");
        select.bind(1, file_id);
        while (select.executeStep()) {
            file = transfer_file_row{
                column_text(select, 0), column_text(select, 1), column_text(select, 2), column_text(select, 4),
                column_text(select, 3), column_text(select, 5), column_text(select, 6), std::string(),
            };
        }
    }
    if (!file) return Json();

    // The lock is released: the platform may reach the store (its "others" folder is a
    // config value).
    Json::object view{
        {"id", file->id},
        {"filename", file->filename},
        {"filesize", file->filesize},
        {"bytes_transferred", file->bytes_transferred},
        {"date_created", file->date_created},
        {"sent", file->sent},
        {"type", type},
    };
    std::string filepath = file->fileurl;
    if (upload) {
        add_upload_thumbnail(view, *file);
    } else {
        add_download_thumbnail(view, *file);
        if (filepath.empty()) filepath = download_target_for_file(file->filename);
    }
    view["filepath"] = filepath;
    return Json(std::move(view));
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
