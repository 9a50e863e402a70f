#include "core_lib/store/chat_history.h"

#include <chrono>
#include <cstdint>
#include <limits>

#include <gtest/gtest.h>

#include "tests/store/db_lock_probe.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

void add_chat(testing::temp_store& store, const std::string& id, const std::string& sender, const std::string& receiver,
              const std::string& account, int created, const std::string& type = "text") {
    store.exec("insert into chats (id, sender, receiver, account, type, date_created) values ('" + id + "', '" +
               sender + "', '" + receiver + "', '" + account + "', '" + type + "', " + std::to_string(created) + ")");
}

std::vector<std::string> ids(const Json& page) {
    std::vector<std::string> result;
    for (const Json& chat : page.array_items()) result.push_back(chat["id"].string_value());
    return result;
}

std::vector<std::string> feedback(testing::temp_store& store) {
    std::vector<std::string> result;
    for (const Json& event : store.ui().events()) {
        EXPECT_EQ(event["action"].string_value(), "feedback_for_peer");
        EXPECT_EQ(event["peer_id"].string_value(), "peer");
        result.push_back(event["feedback"].string_value());
    }
    return result;
}

struct page_case {
    std::uint64_t start;
    std::size_t size;
    const char* first;
};

class HistoryPageTest : public StoreTest, public ::testing::WithParamInterface<page_case> {};

TEST_P(HistoryPageTest, PagesOfTwentyNewestFirst) {
    for (int i = 0; i < 25; ++i) {
        add_chat(store, "c" + std::to_string(i), i % 2 ? "peer" : "me", i % 2 ? "me" : "peer", "acct", 100 + i);
    }
    const Json page = db_get_chats_with_peer(GetParam().start, "acct", "peer");
    const auto got = ids(page);
    ASSERT_EQ(got.size(), GetParam().size);
    if (!got.empty()) {
        EXPECT_EQ(got.front(), GetParam().first);
        EXPECT_EQ(page[0].object_items().size(), 12u);
    }
    EXPECT_EQ(feedback(store), std::vector<std::string>{""});
}

constexpr std::uint64_t int64_max = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

// Starts past what SQLite's signed offsets hold are the largest start: an empty page.
INSTANTIATE_TEST_SUITE_P(Starts, HistoryPageTest,
                         ::testing::Values(page_case{0, 20, "c24"}, page_case{20, 5, "c4"}, page_case{25, 0, ""},
                                           page_case{int64_max, 0, ""}, page_case{int64_max + 1, 0, ""},
                                           page_case{std::numeric_limits<std::uint64_t>::max(), 0, ""}));

TEST_F(StoreTest, HistoryListsOnlyThePeerUnderTheAccount) {
    add_chat(store, "mine", "me", "peer", "acct", 1);
    add_chat(store, "theirs", "peer", "me", "acct", 2);
    add_chat(store, "others", "a", "b", "acct", 3);
    add_chat(store, "elsewhere", "peer", "me", "other", 4);
    EXPECT_EQ(ids(db_get_chats_with_peer(0, "acct", "peer")), (std::vector<std::string>{"theirs", "mine"}));
    EXPECT_TRUE(db_get_chats_with_peer(0, "acct", "nobody").array_items().empty());
}

TEST_F(StoreTest, SlowPageReportsProgressAtMostOnceASecond) {
    // Each chat view waits 260 ms for the platform, so the checks at the 5th and 9th
    // chat are the first more than a second after the start and after the last report.
    for (int i = 0; i < 9; ++i) {
        const std::string id = "d" + std::to_string(i);
        add_chat(store, id, "peer", "me", "", 100 - i, "download");
        store.exec("insert into files_to_receive (id, download_id, filename, fileurl) values ('f" + std::to_string(i) +
                   "', '" + id + "', 'p.png', 'x')");
    }
    store.platform().set_file_size_delay(std::chrono::milliseconds(260));
    const Json page = db_get_chats_with_peer(0, "", "peer");
    EXPECT_EQ(page.array_items().size(), 9u);
    EXPECT_EQ(feedback(store), (std::vector<std::string>{"loading chats...4/20", "loading chats...8/20", ""}));
}

// The interface must not stay on a progress text: a failed page closes it too.
TEST_F(StoreTest, FailedPageStillSendsTheClosingEvent) {
    store.exec("alter table chats rename to chats_away");
    EXPECT_THROW(db_get_chats_with_peer(0, "", "peer"), std::exception);
    EXPECT_EQ(feedback(store), std::vector<std::string>{""});
}

TEST_F(StoreTest, HistoryPageAsksThePlatformAndTellsTheInterfaceOutsideTheLock) {
    testing::db_lock_probe probe(store);
    for (int i = 0; i < 3; ++i) {
        const std::string id = "d" + std::to_string(i);
        add_chat(store, id, "peer", "me", "", 100 - i, "download");
        store.exec("insert into files_to_receive (id, download_id, filename, fileurl) values ('f" + std::to_string(i) +
                   "', '" + id + "', 'p.png', 'x')");
    }
    // Slow enough for one progress event (before the second or the third view).
    probe.platform().set_file_size_delay(std::chrono::milliseconds(600));
    EXPECT_EQ(ids(db_get_chats_with_peer(0, "", "peer")), (std::vector<std::string>{"d0", "d1", "d2"}));
    const std::vector<std::string> texts = feedback(store);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].rfind("loading chats...", 0), 0u) << texts[0];
    EXPECT_EQ(texts[1], "");
    EXPECT_EQ(probe.platform().calls(), 3);
    EXPECT_EQ(probe.platform().calls_under_lock(), 0);
    EXPECT_EQ(probe.ui_texts(), 2);
    EXPECT_EQ(probe.ui_texts_under_lock(), 0);
}

}  // namespace
}  // namespace vandrel
