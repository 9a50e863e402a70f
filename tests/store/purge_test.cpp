#include "core_lib/store/purge.h"

#include <gtest/gtest.h>

#include "core_lib/foundation/clock_random.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

struct purged_table {
    const char* table;
    const char* column;
};

const purged_table purged_tables[] = {
    {"files_to_receive", "date_created"}, {"files_to_send", "date_created"}, {"chats", "date_created"},
    {"devices", "date_updated"},          {"downloads", "date_created"},     {"uploads", "date_created"},
    {"events", "date_created"},
};

class PurgeBoundaryTest : public StoreTest, public ::testing::WithParamInterface<purged_table> {};

TEST_P(PurgeBoundaryTest, KeepsTheCutOffAndDropsOneMillisecondOlder) {
    const std::int64_t cut_off = 1700000000000;
    const std::string table = GetParam().table, column = GetParam().column;
    const auto insert = [&](const char* id, std::int64_t time) {
        store.exec("insert into " + table + " (id, " + column + ") values ('" + id + "', '" + std::to_string(time) +
                   "')");
    };
    insert("at", cut_off);
    insert("older", cut_off - 1);
    insert("newer", cut_off + 1);
    insert("zero", 0);
    db_purge_records_before(cut_off);
    EXPECT_EQ(store.rows("select id from " + table + " order by id"),
              (std::vector<std::vector<std::string>>{{"at"}, {"newer"}}));
}

INSTANTIATE_TEST_SUITE_P(Tables, PurgeBoundaryTest, ::testing::ValuesIn(purged_tables),
                         [](const auto& param_info) { return std::string(param_info.param.table); });

TEST_F(StoreTest, PurgeAgesByTwoDaysAndKeepsSettingsAndLists) {
    const std::int64_t now = now_ms();
    store.exec("insert into chats (id, date_created) values ('recent', " + std::to_string(now - 1000) + ")");
    store.exec("insert into chats (id, date_created) values ('old', " + std::to_string(now - retention_ms - 60000) +
               ")");
    // A device in contact lately stays even though it was made long ago.
    store.exec("insert into devices (id, date_updated) values ('d', " + std::to_string(now - 1000) + ")");
    store.exec("insert into config values ('userid', 'kept')");
    store.exec("insert into shared_files (id, name) values ('s', 'n')");
    store.exec("insert into pending_files (id) values ('p')");
    store.exec("insert into notifications (id) values ('n')");

    db_purge_old_records();

    EXPECT_EQ(store.rows("select id from chats"), (std::vector<std::vector<std::string>>{{"recent"}}));
    EXPECT_EQ(store.number("select count(*) from devices"), 1);
    EXPECT_EQ(store.number("select count(*) from config"), 1);
    EXPECT_EQ(store.number("select count(*) from shared_files"), 1);
    EXPECT_EQ(store.number("select count(*) from pending_files"), 1);
    EXPECT_EQ(store.number("select count(*) from notifications"), 1);
}

TEST_F(StoreTest, PurgeOfAnEmptyDatabaseEndsNormally) {
    EXPECT_NO_THROW(db_purge_old_records());
    EXPECT_EQ(store.number("select count(*) from chats"), 0);
}

}  // namespace
}  // namespace vandrel
