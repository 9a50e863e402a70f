#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core_lib/store/chats.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/downloads.h"
#include "tests/api/api_fixture.h"

namespace vandrel::api_test {
namespace {

using QueriesTest = ApiTest;

std::vector<std::string> chat_ids(const Json& reply) {
    std::vector<std::string> ids;
    for (const Json& chat : reply["chats"].array_items()) ids.push_back(chat["id"].string_value());
    return ids;
}

TEST_F(QueriesTest, ChatHistoryPagesTakeNumbersAndTexts) {
    // 45 chats with peer-a, created one millisecond apart (c00 oldest), and noise.
    for (int i = 0; i < 45; ++i) {
        const std::string id = std::string("c") + (i < 10 ? "0" : "") + std::to_string(i);
        db_insert_chat("", id, i % 2 ? "peer-a" : own_id, i % 2 ? own_id : "peer-a", "text", "m");
        store.exec("update chats set date_created = " + std::to_string(1000 + i) + " where id = '" + id + "'");
    }
    db_insert_chat("", "other", "peer-b", own_id, "text", "m");
    db_insert_chat("other account", "acc", "peer-a", own_id, "text", "m");

    const struct {
        Json start;
        std::size_t count;
        const char* newest;
    } cases[] = {
        {Json(0), 20, "c44"},
        {Json("0"), 20, "c44"},
        {Json(), 20, "c44"},
        {Json("x"), 20, "c44"},
        {Json(20), 20, "c24"},
        {Json("20"), 20, "c24"},
        {Json(40), 5, "c04"},
        {Json("40"), 5, "c04"},
        {Json(45), 0, ""},
        {Json(-3), 20, "c44"},
        {Json("-3"), 20, "c44"},
        // Past what the store's offsets hold: the largest start, an empty page.
        {Json("9223372036854775807"), 0, ""},
        {Json("9223372036854775808"), 0, ""},
        {Json("18446744073709551616"), 0, ""},
        {Json("99999999999999999999999"), 0, ""},
        {Json(9223372036854775807LL), 0, ""},
        {Json(9223372036854775808.0), 0, ""},
        {Json(1e300), 0, ""},
        {Json(-1e300), 20, "c44"},
    };
    for (const auto& c : cases) {
        Json::object body{{"peer", "peer-a"}};
        if (!c.start.is_null()) body["start"] = c.start;
        const Json reply = call("/get_chats_for_peer", body);
        EXPECT_EQ(reply["status"].string_value(), "success") << c.start.dump();
        const std::vector<std::string> ids = chat_ids(reply);
        ASSERT_EQ(ids.size(), c.count) << c.start.dump();
        if (c.count) {
            EXPECT_EQ(ids.front(), c.newest) << c.start.dump();
        }
    }
    EXPECT_EQ(chat_ids(call("/get_chats_for_peer", Json::object{{"peer", "peer-a"}, {"account", "other account"}})),
              std::vector<std::string>{"acc"});
}

TEST_F(QueriesTest, ChatHistoryTellsTheInterfaceWhileItLoads) {
    db_insert_chat("", "c1", "nobody", own_id, "text", "m");
    const struct {
        const char* name;
        Json start;
        bool table_gone;
        const char* status;
    } cases[] = {
        {"first_page", Json("0"), false, "success"},
        {"past_the_end", Json("9223372036854775808"), false, "success"},
        {"far_past_the_end", Json("99999999999999999999999"), false, "success"},
        // A page that cannot be read still closes the feedback.
        {"failed_page", Json("0"), true, "error"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.table_gone) store.exec("alter table chats rename to chats_away");
        store.ui().clear();
        const Json reply = call("/get_chats_for_peer", Json::object{{"peer", "nobody"}, {"start", c.start}});
        EXPECT_EQ(reply["status"].string_value(), c.status);
        std::vector<std::string> feedback;
        for (const Json& event : events_of("feedback_for_peer")) {
            EXPECT_EQ(event["peer_id"].string_value(), "nobody");
            feedback.push_back(event["feedback"].string_value());
        }
        EXPECT_EQ(feedback, (std::vector<std::string>{"loading chats... ", "", ""}));
    }
}

TEST_F(QueriesTest, ErasingAConversationLeavesItsTransfers) {
    db_insert_chat("", "c1", "peer-a", own_id, "text", "m");
    db_store_download({Json::object{{"id", "f1"}, {"filename", "a"}, {"filesize", "1"}}}, "", "d1", "peer-a", own_id);
    db_insert_chat("", "d1", "peer-a", own_id, "download", "d1");
    EXPECT_EQ(call_text("/erase_chats_for_peer", Json::object{{"peer", "peer-a"}}), R"({"status": "success"})");
    EXPECT_TRUE(call("/get_chats_for_peer", Json::object{{"peer", "peer-a"}})["chats"].array_items().empty());
    EXPECT_EQ(store.number("select count(*) from files_to_receive"), 1);
}

TEST_F(QueriesTest, RecentlyChangedDevicesTakeNumbersAndTexts) {
    db_upsert_device("dev-old", "s", "Old", "");
    db_upsert_device("dev-new", "s", "New", "");
    store.exec("update devices set date_updated = 1000 where id = 'dev-old'");
    store.exec("update devices set date_updated = 5000 where id = 'dev-new'");

    const struct {
        Json since;
        std::vector<std::string> ids;
        const char* echoed;
    } cases[] = {
        {Json(), {"dev-new", "dev-old"}, "0"},
        {Json("0"), {"dev-new", "dev-old"}, "0"},
        {Json(""), {"dev-new", "dev-old"}, "0"},
        {Json("soon"), {"dev-new", "dev-old"}, "0"},
        {Json(-5), {"dev-new", "dev-old"}, "0"},
        {Json(1000), {"dev-new"}, "1000"},
        {Json("1000"), {"dev-new"}, "1000"},
        {Json(999), {"dev-new", "dev-old"}, "999"},
        {Json(5000), {}, "5000"},
        {Json("1700000000000"), {}, "1700000000000"},
        {Json(1700000000000LL), {}, "1700000000000"},
    };
    for (const auto& c : cases) {
        Json::object body;
        if (!c.since.is_null()) body["last_pull_devices"] = c.since;
        const Json reply = call("/get_recently_changed_devices", body);
        std::vector<std::string> ids;
        for (const Json& device : reply["devices"].array_items()) ids.push_back(device["id"].string_value());
        std::sort(ids.begin(), ids.end());
        EXPECT_EQ(ids, c.ids) << c.since.dump();
        EXPECT_EQ(reply["last_pull_devices"], Json(c.echoed)) << c.since.dump();
        EXPECT_EQ(reply["status"].string_value(), "success");
    }
}

TEST_F(QueriesTest, NewDownloadsFromOnePeer) {
    db_store_download({Json::object{{"id", "f1"}, {"filename", "a"}, {"filesize", "1"}}}, "", "d1", "peer-a", own_id);
    store.exec("update downloads set date_created = 1000");
    db_store_download({Json::object{{"id", "f2"}, {"filename", "b"}, {"filesize", "2"}}}, "", "d2", "peer-a", own_id);
    store.exec("update downloads set date_created = 2000 where id = 'd2'");

    auto ids = [this](const Json& body) {
        std::vector<std::string> found;
        const Json reply = call("/get_new_downloads", body);
        for (const Json& d : reply["downloads"].array_items()) {
            found.push_back(d["id"].string_value());
        }
        return found;
    };
    EXPECT_EQ(ids(Json::object{{"peer", "peer-a"}}), (std::vector<std::string>{"d2", "d1"}));
    EXPECT_EQ(ids(Json::object{{"peer", "peer-a"}, {"start", "1000"}}), std::vector<std::string>{"d2"});
    // A number is not read as a time here: it counts as 0.
    EXPECT_EQ(ids(Json::object{{"peer", "peer-a"}, {"start", 1000}}), (std::vector<std::string>{"d2", "d1"}));
    EXPECT_TRUE(ids(Json::object{{"peer", "peer-b"}}).empty());
}

}  // namespace
}  // namespace vandrel::api_test
