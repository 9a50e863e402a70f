// Read-only views for the interface: a chat with its transfer summary and up to ten
// file entries, one file of a transfer, and a transfer's file locations. Values are
// JSON strings except "has_thumbnail" (bool), "info" (object or null), "files" (array).
#pragma once

#include <string>

#include <SQLiteCpp/Database.h>

#include "core_lib/foundation/json.h"

namespace vandrel {

inline constexpr const char* thumbnail_upload_prefix = "http://127.0.0.1:45002/thumbnail/v1/upload/";
inline constexpr const char* thumbnail_download_prefix = "http://127.0.0.1:45002/thumbnail/v1/download/";
inline constexpr const char* missing_image = "images/missing_image.png";

// The chat view of the id asked for (empty texts, "info" null, "files" [] when no row
// matches). Takes db_lock and a pooled connection.
Json db_get_chat_json(std::string id);
// The same on the caller's connection, for a caller that already holds db_lock.
Json db_get_chat_json(std::string id, SQLite::Database& connection);

// One file of an "upload" or a "download" (exact words), or null.
Json db_get_transfer_file_json(std::string file_id, std::string type);

// [{"id", "fileurl"}] of one page of a transfer's files, oldest first.
Json db_get_upload_file_urls(std::string upload_id, int page_size, int page);
Json db_get_download_file_urls(std::string download_id, int page_size, int page);

// True for names whose extension (after the last '.', ASCII lower-cased) is jpg, jpeg
// or png.
bool is_thumbnail_image(const std::string& file_name);

}  // namespace vandrel
