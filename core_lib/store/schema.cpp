#include "core_lib/store/schema.h"

#include <array>
#include <exception>
#include <string>
#include <string_view>

#include <sqlite3.h>

namespace vandrel {

namespace {

constexpr std::array<std::string_view, 11> create_statements = {
    "create table if not exists config (config_key text  primary key not null);",
    "create table if not exists devices (id text  primary key not null);",
    "create table if not exists chats (id text  primary key not null);",
    "create table if not exists files_to_send (id text  primary key not null);",
    "create table if not exists uploads (id text  primary key not null);",
    "create table if not exists files_to_receive (id text  primary key not null);",
    "create table if not exists downloads (id text  primary key not null);",
    "create table if not exists events (id text not null);",
    "create table if not exists pending_files (id text primary key not null);",
    "create table if not exists notifications (id text primary key not null);",
    "create table if not exists shared_files (id text primary key not null);",
};

constexpr std::array<std::string_view, 62> column_statements = {
    "alter table config add column config_value text not null default ''",
    "alter table devices add column alias text not null default ''",
    "alter table devices add column sysinfo text not null default ''",
    "alter table devices add column last_message text not null default ''",
    "alter table devices add column date_last_message integer default 0",
    "alter table devices add column date_updated integer default 0",
    "alter table devices add column unread integer default 0",
    "alter table devices add column last_ip text not null default ''",
    "alter table devices add column avatar text not null default ''",
    "alter table devices add column send_notifications integer not null default 0",
    "alter table devices add column key_sha256 text not null default ''",
    "alter table chats add column account text not null default ''",
    "alter table chats add column sender text not null default ''",
    "alter table chats add column receiver text not null default ''",
    "alter table chats add column data text not null default ''",
    "alter table chats add column type text not null default ''",
    "alter table chats add column sent text not null default ''",
    "alter table chats add column date_created integer default 0",
    "alter table chats add column date_updated integer default 0",
    "alter table chats add column status text not null default ''",
    "alter table pending_files add column is_folder integer default 0",
    "alter table files_to_send add column filename text not null default ''",
    "alter table files_to_send add column fileurl text not null default ''",
    "alter table files_to_send add column upload_id text not null default ''",
    "alter table files_to_send add column filesize integer  default 0",
    "alter table files_to_send add column date_created integer default 0",
    "alter table files_to_send add column date_updated integer default 0",
    "alter table files_to_send add column bytes_transferred integer default 0",
    "alter table files_to_send add column sent text not null default ''",
    "alter table files_to_send add column receiver text not null default ''",
    "alter table files_to_send add column status text not null default ''",
    "alter table uploads add column account text not null default ''",
    "alter table uploads add column sender text not null default ''",
    "alter table uploads add column receiver text not null default ''",
    "alter table uploads add column sent text not null default ''",
    "alter table uploads add column date_created integer default 0",
    "alter table uploads add column date_updated integer default 0",
    "alter table uploads add column status text not null default ''",
    "alter table events add column date_created integer default 0",
    "alter table events add column event text not null default ''",
    "alter table files_to_receive add column filename text not null default ''",
    "alter table files_to_receive add column status text not null default ''",
    "alter table files_to_receive add column sender text not null default ''",
    "alter table files_to_receive add column filesize integer  default 0",
    "alter table files_to_receive add column date_created integer default 0",
    "alter table files_to_receive add column date_updated integer default 0",
    "alter table files_to_receive add column fileurl text not null default ''",
    "alter table files_to_receive add column download_id text not null default ''",
    "alter table files_to_receive add column bytes_transferred integer default 0",
    "alter table files_to_receive add column sent text not null default ''",
    "alter table downloads add column account text not null default ''",
    "alter table downloads add column sender text not null default ''",
    "alter table downloads add column receiver text not null default ''",
    "alter table downloads add column sent text not null default ''",
    "alter table downloads add column date_created integer default 0",
    "alter table downloads add column date_updated integer default 0",
    "alter table notifications add column title text not null default ''",
    "alter table notifications add column description text not null default ''",
    "alter table notifications add column date_created integer default 0",
    "alter table shared_files add column type text not null default ''",
    "alter table shared_files add column name text not null default ''",
    "alter table shared_files add column path text not null default ''",
};

// Indexes change no stored data; they let a history page, a transfer's files and the
// purge find their rows without scanning whole tables. The progress sums of a transfer
// are read from an index alone, and the next queued file of a sender is found in one:
// both are asked once per file, so a transfer of many files costs no more per file
// than one of a few.
constexpr std::array<std::string_view, 6> index_statements = {
    "create index if not exists chats_by_date_created on chats (date_created)",
    "create index if not exists files_to_send_by_upload on files_to_send (upload_id, date_created)",
    "create index if not exists files_to_receive_by_download on files_to_receive (download_id, date_created)",
    "create index if not exists files_to_send_progress on files_to_send (upload_id, id, filesize, bytes_transferred)",
    "create index if not exists files_to_receive_progress on files_to_receive "
    "(download_id, id, filesize, bytes_transferred)",
    "create index if not exists files_to_receive_queue on files_to_receive (sender, status, date_updated)",
};

}  // namespace

void create_tables(SQLite::Database& db) {
    for (std::string_view statement : create_statements) db.exec(std::string(statement));
}

void add_columns(SQLite::Database& db) {
    for (std::string_view statement : column_statements) {
        try {
            db.exec(std::string(statement));
        } catch (const SQLite::Exception& e) {
            // The file has the column already; a column that could not be added is an
            // error, or the store's statements would fail on it later.
            if (std::string_view(e.what()).find("duplicate column name") == std::string_view::npos) throw;
        }
    }
}

void add_indexes(SQLite::Database& db) {
    for (std::string_view statement : index_statements) {
        try {
            db.exec(std::string(statement));
        } catch (const std::exception&) {}
    }
}

std::string database_damage(SQLite::Database& db) {
    try {
        SQLite::Column answer = db.execAndGet("PRAGMA integrity_check");
        std::string text = answer.isNull() ? std::string() : answer.getString();
        return text.size() > 5 ? text : std::string();
    } catch (const SQLite::Exception& e) {
        const int code = e.getErrorCode() & 0xff;
        if (code == SQLITE_CORRUPT || code == SQLITE_NOTADB) return e.what();
        throw;
    }
}

}  // namespace vandrel
