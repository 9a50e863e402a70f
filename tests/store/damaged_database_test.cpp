// A database file that cannot be used as it is: a damaged one is kept aside under
// another name and replaced, and the interface is told; one that another program holds
// locked, or that lies in a folder that cannot be written, is left as it is, the store
// operation fails with words that say why, and the next use opens it once it can.
#include <gtest/gtest.h>

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core_lib/store/config.h"
#include "core_lib/store/db_pool.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/schema.h"
#include "tests/support/child_process.h"
#include "tests/support/temp_store.h"
#include "tests/support/test_files.h"
#include "tests/support/test_mounts.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::StoreTest;

using testing::names_starting_with;
using testing::read_file;
using testing::write_file;

std::vector<Json> storage_problems(testing::temp_store& store) {
    std::vector<Json> found;
    for (const Json& event : store.ui().events())
        if (event["action"].string_value() == "storage_problem") found.push_back(event);
    return found;
}

// A database with one stored setting, its pages scrambled past the header so that the
// file still opens but does not hold together.
void scramble_pages(const std::string& path) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string sql = "create table filler (a text, b text); create index filler_a on filler (a); begin;";
    for (int i = 0; i < 300; ++i)
        sql += "insert into filler values ('" + std::to_string(i * 7919) + "', hex(randomblob(60)));";
    sql += "commit;";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    std::string bytes = read_file(path);
    ASSERT_GT(bytes.size(), 4096u * 4);
    for (std::size_t i = std::size_t{4096} * 2; i < bytes.size() - 4096; i += 7)
        bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
    write_file(path, bytes);
}

struct damage_case {
    const char* name;
    void (*damage)(const std::string& path);
};

const damage_case damages[] = {
    {"garbage",
     [](const std::string& path) {
         std::string garbage;
         for (int i = 0; i < 200; ++i) garbage += "this is not a database file; ";
         write_file(path, garbage);
     }},
    {"scrambled_pages", [](const std::string& path) { scramble_pages(path); }},
};

class DamagedDatabase : public StoreTest, public ::testing::WithParamInterface<damage_case> {};

TEST_P(DamagedDatabase, IsKeptAsideReplacedAndReported) {
    const std::string path = store.database_file();
    db_config_set(true, "before", "damage");
    store.restart();
    std::filesystem::remove(path + "-wal");
    GetParam().damage(path);
    const std::string damaged = read_file(path);

    // The first operation sets the store up on a new, empty file.
    EXPECT_EQ(db_get_device_last_ip("nobody"), "");
    EXPECT_EQ(db_config_get(true, "before"), "");
    const auto kept = names_starting_with(store.data_folder(), "app.db.damaged-");
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(read_file(store.data_folder() + kept[0]), damaged);

    const auto problems = storage_problems(store);
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_EQ(problems[0]["path"].string_value(), path);
    EXPECT_NE(problems[0]["message"].string_value().find(kept[0]), std::string::npos) << problems[0].dump();
    // Told once.
    db_config_set(true, "after", "repair");
    EXPECT_EQ(storage_problems(store).size(), 1u);
    EXPECT_TRUE(db_pool_take_repairs().empty());
}

INSTANTIATE_TEST_SUITE_P(Files, DamagedDatabase, ::testing::ValuesIn(damages),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// The set-up of an operation started while another program holds the file: the
// operation fails, the file is left alone (nothing put aside, nothing lost).
TEST_F(StoreTest, ADatabaseLockedByAnotherProgramIsLeftAsItIsAndOpenedOnceFree) {
    db_config_set(true, "userid", std::string(64, 'a'));
    store.restart();
    auto locker = std::make_unique<testing::ChildProcess>(
        std::vector<std::string>{MESK_DB_LOCKER_BINARY, store.database_file()}, testing::environment_with({}));
    ASSERT_TRUE(locker->wait_for_line("locked", 10s)) << "the other program did not get its lock";

    try {
        (void)db_config_get(true, "userid");
        ADD_FAILURE() << "a locked database was read";
    } catch (const SQLite::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("another program holds it locked"), std::string::npos) << e.what();
    }
    EXPECT_TRUE(names_starting_with(store.data_folder(), "app.db.damaged-").empty());
    EXPECT_TRUE(db_pool_take_repairs().empty());

    locker->close_input();
    ASSERT_TRUE(locker->wait_exit(10s));
    EXPECT_EQ(db_config_get(true, "userid"), std::string(64, 'a'));
}

TEST_F(StoreTest, ADataFolderThatCannotBeWrittenIsAnErrorThatSaysSo) {
    db_config_set(true, "kept", "yes");
    store.restart();
    const std::string why = testing::private_mount_namespace();
    if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
    auto read_only = testing::test_mount::read_only(store.data_folder());
    ASSERT_EQ(read_only.mount_error(), "");

    try {
        (void)db_config_get(true, "kept");
        ADD_FAILURE() << "the store opened in a read-only folder";
    } catch (const SQLite::Exception& e) {
        EXPECT_NE(std::string(e.what()).find("cannot be written: Read-only file system"), std::string::npos)
            << e.what();
    }
    read_only.unmount();
    EXPECT_EQ(db_config_get(true, "kept"), "yes");
    EXPECT_TRUE(names_starting_with(store.data_folder(), "app.db.damaged-").empty());
}

// A column that cannot be added (the file read-only, or locked) is an error, or the
// store would run on a schema that lacks it; a column already there is none.
TEST_F(StoreTest, AddingColumnsFailsOnlyForColumnsThatCouldNotBeAdded) {
    const std::string path = store.root() + "/older.db";
    {
        // Every table with its key column only, as an older file may have them.
        SQLite::Database older(path, SQLite::OPEN_READWRITE | SQLite::OPEN_CREATE);
        create_tables(older);
    }
    SQLite::Database read_only(path, SQLite::OPEN_READONLY);
    EXPECT_THROW(add_columns(read_only), SQLite::Exception);

    SQLite::Database writable(path, SQLite::OPEN_READWRITE);
    EXPECT_NO_THROW(add_columns(writable));
    EXPECT_NO_THROW(add_columns(writable)) << "columns already there are no error";
}

}  // namespace
}  // namespace vandrel
