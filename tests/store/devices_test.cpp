#include "core_lib/store/devices.h"

#include <gtest/gtest.h>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/peers/peer_directory.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;
using rows_t = std::vector<std::vector<std::string>>;

const char* row_query =
    "select id, sysinfo, alias, last_message, date_last_message, unread, last_ip, avatar, send_notifications from "
    "devices";

struct upsert_case {
    const char* name;
    bool existing;  // a row d1 (sys, Alias, 10.0.0.1) with a summary exists first
    const char* sys_info;
    const char* alias;
    const char* ip;
    bool written;                  // a new row or date_updated changed
    std::vector<std::string> row;  // expected row, empty for none
};

const upsert_case upsert_cases[] = {
    {"new_without_alias_or_ip", false, "sys", "", "", false, {}},
    {"new_with_alias", false, "sys", "Alias", "", true, {"d1", "sys", "Alias", "", "0", "0", "", "", "0"}},
    {"new_with_ip", false, "sys", "", "10.0.0.9", true, {"d1", "sys", "", "", "0", "0", "10.0.0.9", "", "0"}},
    {"known_same_alias_and_ip_new_sysinfo",
     true,
     "other sys",
     "Alias",
     "10.0.0.1",
     false,
     {"d1", "sys", "Alias", "hello", "5", "3", "10.0.0.1", "pic", "1"}},
    {"known_new_ip",
     true,
     "new sys",
     "Alias",
     "10.0.0.2",
     true,
     {"d1", "new sys", "Alias", "hello", "5", "3", "10.0.0.2", "pic", "1"}},
    {"known_new_alias",
     true,
     "sys",
     "Renamed",
     "10.0.0.1",
     true,
     {"d1", "sys", "Renamed", "hello", "5", "3", "10.0.0.1", "pic", "1"}},
    {"alias_differs_in_case_only",
     true,
     "sys",
     "alias",
     "10.0.0.1",
     true,
     {"d1", "sys", "alias", "hello", "5", "3", "10.0.0.1", "pic", "1"}},
};

class UpsertDeviceTest : public StoreTest, public ::testing::WithParamInterface<upsert_case> {};

TEST_P(UpsertDeviceTest, WritesOnlyANewOrChangedDevice) {
    const upsert_case& c = GetParam();
    if (c.existing) {
        store.exec(
            "insert into devices (id, sysinfo, alias, last_message, date_last_message, unread, last_ip, avatar, "
            "send_notifications, date_updated) values ('d1', 'sys', 'Alias', 'hello', 5, 3, '10.0.0.1', 'pic', 1, 7)");
    }
    const std::int64_t before = now_ms();
    db_upsert_device("d1", c.sys_info, c.alias, c.ip);

    const rows_t rows = store.rows(row_query);
    if (c.row.empty()) {
        EXPECT_TRUE(rows.empty());
    } else {
        EXPECT_EQ(rows, rows_t{c.row});
    }
    EXPECT_EQ(store.ui().count("peers_updated"), c.written ? 1u : 0u);
    const std::int64_t updated = store.number("select date_updated from devices");
    if (c.written) {
        EXPECT_GE(updated, before);
    } else if (c.existing) {
        EXPECT_EQ(updated, 7);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, UpsertDeviceTest, ::testing::ValuesIn(upsert_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(StoreTest, UpsertWhoseReadFailsWritesNothingButStillRefreshes) {
    store.exec("alter table devices rename to devices_away");
    EXPECT_NO_THROW(db_upsert_device("d1", "sys", "Alias", "10.0.0.1"));
    EXPECT_EQ(store.ui().count("peers_updated"), 1u);
    store.exec("alter table devices_away rename to devices");
    EXPECT_EQ(store.number("select count(*) from devices"), 0);
}

TEST_F(StoreTest, DevicesUpdatedSinceComparesStrictlyExceptFromZero) {
    store.exec("insert into devices (id, date_updated) values ('a', 100), ('b', 200), ('c', 0)");
    const auto ids = [](const std::vector<Json>& records) {
        std::vector<std::string> result;
        for (const Json& r : records) result.push_back(r["id"].string_value());
        std::sort(result.begin(), result.end());
        return result;
    };
    EXPECT_EQ(ids(db_get_devices_updated_since(0)), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(ids(db_get_devices_updated_since(100)), (std::vector<std::string>{"b"}));
    EXPECT_TRUE(db_get_devices_updated_since(200).empty());
}

TEST_F(StoreTest, DeviceRecordsAreStringsWithTheSeenAddress) {
    store.exec(
        "insert into devices (id, alias, sysinfo, date_updated, last_message, date_last_message, unread, last_ip, "
        "avatar, send_notifications) values ('a', 'Al', 'sys', 5, 'hi', 4, 2, '10.0.0.1', 'pic', 1)");
    set_peer_ip("a", "192.168.1.7");
    const auto records = db_get_devices_updated_since(0);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0], Json(Json::object{{"id", "a"},
                                            {"alias", "Al"},
                                            {"sys_info", "sys"},
                                            {"date_updated", "5"},
                                            {"last_message", "hi"},
                                            {"date_last_message", "4"},
                                            {"unread", "2"},
                                            {"ip", "192.168.1.7"},
                                            {"avatar", "pic"},
                                            {"send_notifications", "1"}}));
    EXPECT_EQ(db_get_device("a"),
              Json(Json::object{
                  {"id", "a"}, {"alias", "Al"}, {"sys_info", "sys"}, {"date_updated", "5"}, {"ip", "192.168.1.7"}}));
}

TEST_F(StoreTest, DeviceNotSeenHasNoAddressAndMissingDeviceIsNull) {
    store.exec("insert into devices (id, last_ip) values ('a', '10.0.0.1')");
    EXPECT_EQ(db_get_device("a")["ip"].string_value(), "");
    EXPECT_EQ(db_get_device_last_ip("a"), "10.0.0.1");
    EXPECT_TRUE(db_get_device("missing").is_null());
    EXPECT_EQ(db_get_device_last_ip("missing"), "");
}

TEST_F(StoreTest, TotalUnreadSumsEveryDevice) {
    EXPECT_EQ(db_get_total_unread(), 0);
    store.exec("insert into devices (id, unread) values ('a', 2), ('b', 5)");
    EXPECT_EQ(db_get_total_unread(), 7);
    db_mark_device_read("b");
    EXPECT_EQ(db_get_total_unread(), 2);
    EXPECT_GT(store.number("select date_updated from devices where id = 'b'"), 0);
}

TEST_F(StoreTest, SendNotificationsIsTrueOnlyForOne) {
    store.exec("insert into devices (id, send_notifications) values ('one', 1), ('two', 2), ('zero', 0)");
    EXPECT_TRUE(db_get_device_send_notifications("one"));
    EXPECT_FALSE(db_get_device_send_notifications("two"));
    EXPECT_FALSE(db_get_device_send_notifications("zero"));
    EXPECT_FALSE(db_get_device_send_notifications("missing"));

    db_set_device_send_notifications(1, "zero");
    EXPECT_TRUE(db_get_device_send_notifications("zero"));
    db_set_device_send_notifications(1, "missing");
    EXPECT_EQ(store.ui().count("peers_updated"), 2u);
    EXPECT_EQ(store.number("select count(*) from devices"), 3);
}

TEST_F(StoreTest, RecentPeerIpsAreDistinctNonEmptyNewestFirst) {
    for (int i = 0; i < 14; ++i) {
        store.exec("insert into devices (id, last_ip, date_updated) values ('d" + std::to_string(i) + "', '10.0.0." +
                   std::to_string(i) + "', " + std::to_string(100 + i) + ")");
    }
    store.exec("insert into devices (id, last_ip, date_updated) values ('dup', '10.0.0.13', 50), ('none', '', 999)");
    const auto ips = db_get_recent_peer_ips();
    ASSERT_EQ(ips.size(), 10u);
    EXPECT_EQ(ips.front(), "10.0.0.13");
    EXPECT_EQ(ips.back(), "10.0.0.4");
}

TEST_F(StoreTest, DeviceUpdatesOfAMissingIdChangeNothing) {
    db_touch_device("missing");
    db_set_device_avatar("missing", "pic");
    db_mark_device_read("missing");
    EXPECT_EQ(store.number("select count(*) from devices"), 0);

    store.exec("insert into devices (id) values ('a')");
    db_set_device_avatar("a", "data:image/jpeg;base64,AA");
    db_touch_device("a");
    EXPECT_EQ(store.text("select avatar from devices"), "data:image/jpeg;base64,AA");
    EXPECT_GT(store.number("select date_updated from devices"), 0);
}

TEST_F(StoreTest, AvatarsAreBoundedInTotalAndThoseOfDevicesWithChatsStay) {
    const std::size_t each = limits::avatar_bytes;
    const std::size_t fit = limits::avatar_total_bytes / each;
    // A friend with a chat, then as many strangers as the total holds.
    store.exec("insert into devices (id, date_updated) values ('friend', 1)");
    store.exec("insert into chats (id, sender, receiver) values ('c1', 'friend', 'me')");
    EXPECT_TRUE(db_set_device_avatar("friend", std::string(each, 'f')));
    for (std::size_t i = 0; i < fit; ++i) {
        const std::string id = "s" + std::to_string(i);
        store.exec("insert into devices (id, date_updated) values ('" + id + "', " + std::to_string(10 + i) + ")");
        EXPECT_TRUE(db_set_device_avatar(id, std::string(each, 's'))) << i;
        EXPECT_LE(store.number("select sum(length(avatar)) from devices"),
                  static_cast<std::int64_t>(limits::avatar_total_bytes));
    }
    EXPECT_EQ(store.number("select length(avatar) from devices where id = 'friend'"), static_cast<std::int64_t>(each));
    EXPECT_EQ(store.text("select avatar from devices where id = 's0'"), "") << "the oldest stranger's went";
    EXPECT_EQ(store.number("select length(avatar) from devices where id = 's1'"), static_cast<std::int64_t>(each));

    // When only devices with chats hold pictures, a stranger's is not taken.
    store.exec("update devices set avatar = '' where id <> 'friend'");
    store.exec("update devices set avatar = '" + std::string(limits::avatar_total_bytes - 10, 'f') +
               "' where id = 'friend'");
    EXPECT_FALSE(db_set_device_avatar("s3", std::string(100, 's')));
    EXPECT_EQ(store.text("select avatar from devices where id = 's3'"), "");
}

TEST_F(StoreTest, AFullDeviceTableMakesRoomFromTheOldestWithoutChatsUnprovenFirst) {
    const std::size_t full = limits::stored_devices;
    store.exec("insert into devices (id, date_updated, key_sha256) values ('proven-old', 1, 'k')");
    store.exec("insert into devices (id, date_updated, key_sha256) values ('friend-old', 0, '')");
    store.exec("insert into chats (id, sender, receiver) values ('c1', 'me', 'friend-old')");
    store.exec("insert into devices (id, date_updated, key_sha256) values ('unproven-new', 50, '')");
    for (std::size_t i = 3; i < full; ++i) {
        store.exec("insert into devices (id, date_updated, key_sha256) values ('p" + std::to_string(i) + "', " +
                   std::to_string(100 + i) + ", 'k')");
    }
    ASSERT_EQ(store.number("select count(*) from devices"), static_cast<std::int64_t>(full));
    const char* gone_in_order[] = {"unproven-new", "proven-old", "p3"};
    for (const char* gone : gone_in_order) {
        SCOPED_TRACE(gone);
        EXPECT_TRUE(db_make_room_for_device());
        EXPECT_EQ(store.number("select count(*) from devices"), static_cast<std::int64_t>(full - 1));
        EXPECT_TRUE(db_get_device(gone).is_null());
        store.exec(std::string("insert into devices (id, date_updated, key_sha256) values ('n-") + gone +
                   "', 1000, 'k')");
    }
    EXPECT_FALSE(db_get_device("friend-old").is_null());
    EXPECT_TRUE(db_device_has_history("friend-old"));
    EXPECT_FALSE(db_device_has_history("p4"));

    // Below the limit nothing goes.
    store.exec("delete from devices where id like 'p1%'");
    const std::int64_t rows = store.number("select count(*) from devices");
    EXPECT_TRUE(db_make_room_for_device());
    EXPECT_EQ(store.number("select count(*) from devices"), rows);
}

}  // namespace
}  // namespace vandrel
