#include "core_lib/store/db_pool.h"

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "core_lib/store/chats.h"
#include "core_lib/store/config.h"
#include "core_lib/store/db_session.h"
#include "core_lib/store/uploads.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

const std::map<std::string, std::vector<std::string>> expected_columns = {
    {"config", {"config_key", "config_value"}},
    {"devices",
     {"id", "alias", "sysinfo", "last_message", "date_last_message", "date_updated", "unread", "last_ip", "avatar",
      "send_notifications", "key_sha256"}},
    {"chats",
     {"id", "account", "sender", "receiver", "data", "type", "sent", "date_created", "date_updated", "status"}},
    {"files_to_send",
     {"id", "filename", "fileurl", "upload_id", "filesize", "date_created", "date_updated", "bytes_transferred", "sent",
      "receiver", "status"}},
    {"uploads", {"id", "account", "sender", "receiver", "sent", "date_created", "date_updated", "status"}},
    {"files_to_receive",
     {"id", "filename", "status", "sender", "filesize", "date_created", "date_updated", "fileurl", "download_id",
      "bytes_transferred", "sent"}},
    {"downloads", {"id", "account", "sender", "receiver", "sent", "date_created", "date_updated"}},
    {"events", {"id", "date_created", "event"}},
    {"pending_files", {"id", "is_folder"}},
    {"notifications", {"id", "title", "description", "date_created"}},
    {"shared_files", {"id", "type", "name", "path"}},
};

// SQL on the file itself, before the store has opened it.
void raw_exec(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    char* error = nullptr;
    const int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error);
    const std::string message = error ? error : "";
    sqlite3_free(error);
    sqlite3_close(db);
    ASSERT_EQ(rc, SQLITE_OK) << message;
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool every_idle_connection_in_autocommit() {
    std::vector<std::shared_ptr<SQLite::Database>> taken;
    bool clean = true;
    while (db_pool_idle_count() > 0) {
        taken.push_back(db_pool_acquire());
        clean = clean && sqlite3_get_autocommit(taken.back()->getHandle()) != 0;
    }
    for (auto& connection : taken) db_pool_release(connection);
    return clean;
}

struct setup_case {
    const char* name;
    void (*prepare)(testing::temp_store& store);
    // What must still be there after the set-up (config value of "kept"), "" for nothing.
    const char* kept_value;
};

void prepare_nothing(testing::temp_store&) {}

void prepare_healthy(testing::temp_store& store) {
    db_config_set(true, "kept", "yes");
    store.restart();
}

void prepare_older_schema(testing::temp_store& store) {
    raw_exec(store.database_file(),
             "create table config (config_key text primary key not null, config_value text not null default '');"
             "insert into config values ('kept', 'old');"
             "create table devices (id text primary key not null, alias text not null default '');"
             "insert into devices (id, alias) values ('d1', 'Old Alias');"
             "create table chats (id text primary key not null, account text not null default '');");
}

void prepare_garbage(testing::temp_store& store) {
    std::string garbage;
    for (int i = 0; i < 200; ++i) garbage += "this is not a database file; ";
    write_file(store.database_file(), garbage);
    write_file(store.database_file() + "-journal", garbage);
}

void prepare_damaged_pages(testing::temp_store& store) {
    std::string sql =
        "create table config (config_key text primary key not null, config_value text not null default '');"
        "insert into config values ('kept', 'lost');"
        "create table filler (a text, b text); create index filler_a on filler (a); begin;";
    for (int i = 0; i < 300; ++i)
        sql += "insert into filler values ('" + std::to_string(i * 7919) + "', hex(randomblob(60)));";
    sql += "commit;";
    raw_exec(store.database_file(), sql);
    std::string bytes = read_file(store.database_file());
    ASSERT_GT(bytes.size(), 4096u * 4);
    // Scramble the middle pages, keep the header so the file still opens.
    for (std::size_t i = std::size_t{4096} * 2; i < bytes.size() - 4096; i += 7)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    write_file(store.database_file(), bytes);
}

class SetUpTest : public StoreTest, public ::testing::WithParamInterface<setup_case> {};

TEST_P(SetUpTest, EveryTableHasItsColumnsAndThePoolHoldsTen) {
    GetParam().prepare(store);

    EXPECT_EQ(db_config_get(true, "kept"), GetParam().kept_value);
    for (const auto& [table, columns] : expected_columns) {
        EXPECT_EQ(store.columns(table), columns) << table;
    }
    EXPECT_EQ(db_pool_idle_count(), db_pool_capacity);
    EXPECT_EQ(db_pool_in_use_count(), 0u);
    EXPECT_EQ(db_pool_path(), store.database_file());
    EXPECT_FALSE(std::filesystem::exists(store.database_file() + "-journal"));
    EXPECT_EQ(store.text("pragma journal_mode"), "wal");
}

INSTANTIATE_TEST_SUITE_P(Files, SetUpTest,
                         ::testing::Values(setup_case{"missing", prepare_nothing, ""},
                                           setup_case{"healthy", prepare_healthy, "yes"},
                                           setup_case{"older_schema", prepare_older_schema, "old"},
                                           setup_case{"garbage", prepare_garbage, ""},
                                           setup_case{"damaged_pages", prepare_damaged_pages, ""}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(StoreTest, OlderSchemaRowsGetTheDefaultsOfAddedColumns) {
    prepare_older_schema(store);
    EXPECT_EQ(
        store.rows(
            "select id, alias, sysinfo, last_message, date_last_message, unread, send_notifications from devices"),
        (std::vector<std::vector<std::string>>{{"d1", "Old Alias", "", "", "0", "0", "0"}}));
}

TEST_F(StoreTest, FailingOperationsGiveEveryConnectionBack) {
    store.exec("alter table chats rename to chats_away");
    for (int i = 0; i < 11; ++i) EXPECT_THROW(db_get_chat_sender("c"), SQLite::Exception);
    EXPECT_EQ(db_pool_idle_count(), db_pool_capacity);
    EXPECT_EQ(db_pool_in_use_count(), 0u);
}

TEST_F(StoreTest, ConnectionsAreHandedOutFirstInFirstOut) {
    auto first = db_pool_acquire();
    sqlite3* first_handle = first->getHandle();
    db_pool_release(first);
    std::set<sqlite3*> others;
    for (std::size_t i = 0; i + 1 < db_pool_capacity; ++i) {
        auto next = db_pool_acquire();
        EXPECT_NE(next->getHandle(), first_handle);
        others.insert(next->getHandle());
        db_pool_release(next);
    }
    EXPECT_EQ(others.size(), db_pool_capacity - 1);
    auto again = db_pool_acquire();
    EXPECT_EQ(again->getHandle(), first_handle);
    db_pool_release(again);
}

TEST_F(StoreTest, AcquireOnAnEmptyPoolWaitsForAReturn) {
    std::vector<std::shared_ptr<SQLite::Database>> all;
    for (std::size_t i = 0; i < db_pool_capacity; ++i) all.push_back(db_pool_acquire());
    std::thread giver([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        db_pool_release(all.back());
    });
    auto waited = db_pool_acquire();
    giver.join();
    ASSERT_NE(waited, nullptr);
    EXPECT_EQ(waited, all.back());
    all.pop_back();
    db_pool_release(waited);
    for (auto& connection : all) db_pool_release(connection);
    EXPECT_EQ(db_pool_idle_count(), db_pool_capacity);
}

struct failing_write {
    const char* name;
    const char* sabotage;  // makes the operation fail part-way
    void (*run)();
    const char* left_over;  // a query that must find nothing afterwards
};

const failing_write failing_writes[] = {
    {"upload_row_missing", "alter table uploads rename to uploads_away",
     [] {
         db_store_upload({Json::object{{"id", "f1"}, {"filename", "a.txt"}}, Json::object{{"id", "f2"}}}, "", "u1",
                         "me", "peer");
     },
     "select id from files_to_send"},
    {"summary_table_missing", "alter table devices rename to devices_away",
     [] { db_insert_chat("", "c1", "peer", "me", "text", "hello"); }, "select id from chats"},
};

class FailingTransactionTest : public StoreTest, public ::testing::WithParamInterface<failing_write> {};

TEST_P(FailingTransactionTest, RollsBackAndLeavesNoTransactionOpen) {
    store.exec(GetParam().sabotage);
    EXPECT_THROW(GetParam().run(), SQLite::Exception);
    EXPECT_TRUE(every_idle_connection_in_autocommit());
    EXPECT_TRUE(store.rows(GetParam().left_over).empty());
    EXPECT_EQ(db_pool_idle_count(), db_pool_capacity);
    // The connections still work.
    db_config_set(true, "after", "ok");
    EXPECT_EQ(db_config_get(true, "after"), "ok");
}

INSTANTIATE_TEST_SUITE_P(Writes, FailingTransactionTest, ::testing::ValuesIn(failing_writes),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(StoreTest, AConnectionReturnedInsideATransactionIsRolledBack) {
    {
        std::lock_guard<std::mutex> lock(db_lock());
        pooled_connection connection;
        connection.db().exec("BEGIN TRANSACTION");
        connection.db().exec("insert into config (config_key, config_value) values ('half', 'done')");
    }
    EXPECT_TRUE(every_idle_connection_in_autocommit());
    EXPECT_EQ(db_config_get(true, "half"), "");
}

TEST_F(StoreTest, AnUnreachableDatabaseIsAnExceptionAndIsRetried) {
    const std::string missing = store.root() + "/not-yet/";
    store.platform().set_data_folder(missing);
    EXPECT_THROW(db_config_get(true, "k"), SQLite::Exception);
    EXPECT_EQ(db_pool_idle_count(), 0u);
    std::filesystem::create_directories(missing);
    db_config_set(true, "k", "v");
    EXPECT_EQ(db_config_get(true, "k"), "v");
    EXPECT_TRUE(std::filesystem::exists(missing + "app.db"));
}

TEST_F(StoreTest, ShutdownLetsTheNextAcquireOpenAnotherDataFolder) {
    db_config_set(true, "where", "first");
    const std::string other = store.root() + "/Other/";
    std::filesystem::create_directories(other);
    store.platform().set_data_folder(other);
    db_pool_shutdown();
    EXPECT_EQ(db_pool_idle_count(), 0u);
    EXPECT_EQ(db_config_get(true, "where"), "");
    EXPECT_EQ(db_pool_path(), other + "app.db");
}

TEST_F(StoreTest, CloseConnectionFinalizesLeftoverStatements) {
    const std::string path = store.root() + "/alone.db";
    auto connection = std::make_shared<SQLite::Database>(path, db_open_pool_flags);
    connection->exec("PRAGMA journal_mode = WAL");
    connection->exec("create table t (a); insert into t values (1)");
    sqlite3_stmt* leftover = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(connection->getHandle(), "select a from t", -1, &leftover, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(leftover), SQLITE_ROW);
    ASSERT_TRUE(std::filesystem::exists(path + "-wal"));

    close_connection(connection);
    EXPECT_EQ(connection, nullptr);
    // The last connection of a WAL file removes the log when it really closes.
    EXPECT_FALSE(std::filesystem::exists(path + "-wal"));
}

}  // namespace
}  // namespace vandrel
