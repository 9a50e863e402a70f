// Read-only views for the interface: a chat with its transfer summary and up to ten
// file entries, one file of a transfer, and a transfer's file locations. Values are
// JSON strings except "has_thumbnail" (bool), "info" (object or null), "files" (array).
// The rows are read under db_lock; the platform (file sizes, download targets) is asked
// only after the lock is released.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <SQLiteCpp/Database.h>

#include "core_lib/foundation/json.h"

namespace vandrel {

inline constexpr const char* thumbnail_upload_prefix = "http://127.0.0.1:45002/thumbnail/v1/upload/";
inline constexpr const char* thumbnail_download_prefix = "http://127.0.0.1:45002/thumbnail/v1/download/";
inline constexpr const char* missing_image = "images/missing_image.png";

// One row of files_to_send or files_to_receive, as read ("status" only for uploads).
struct transfer_file_row {
    std::string id, filename, filesize, date_created, bytes_transferred, sent, fileurl, status;
};

struct transfer_summary_row {
    std::int64_t count = 0, size_sum = 0, bytes_sum = 0;
    std::string min_name, max_name;
};

// What a chat view is made of. `transfer` is set for "upload" and "download" chats;
// `files` holds their first ten files, or none when there are more.
struct chat_view_rows {
    std::string id, sender, receiver, type, data, date_created, date_updated, account, sent, status;
    std::optional<transfer_summary_row> transfer;
    std::vector<transfer_file_row> files;
};

// The rows of the chat view of `id` on the caller's connection; the caller holds
// db_lock. No platform call.
chat_view_rows db_read_chat_view_rows(const std::string& id, SQLite::Database& connection);
// The view of rows read before; asks the platform for the size of received images, so
// it must not be called while holding db_lock.
Json chat_view_json(const chat_view_rows& rows);

// The chat view of the id asked for (empty texts, "info" null, "files" [] when no row
// matches). Takes db_lock and a pooled connection for the rows, then builds the view.
// Must not be called while holding db_lock.
Json db_get_chat_json(std::string id);

// One file of an "upload" or a "download" (exact words), or null. Must not be called
// while holding db_lock.
Json db_get_transfer_file_json(std::string file_id, std::string type);

// [{"id", "fileurl"}] of one page of a transfer's files, oldest first.
Json db_get_upload_file_urls(std::string upload_id, int page_size, int page);
Json db_get_download_file_urls(std::string download_id, int page_size, int page);

// True for names whose extension (after the last '.', ASCII lower-cased) is jpg, jpeg
// or png.
bool is_thumbnail_image(const std::string& file_name);

}  // namespace vandrel
