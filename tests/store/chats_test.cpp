#include "core_lib/store/chats.h"

#include <gtest/gtest.h>

#include "core_lib/store/settings.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using rows_t = std::vector<std::vector<std::string>>;

class ChatsTest : public testing::StoreTest {
protected:
    void SetUp() override {
        me = get_userid();
        store.exec("insert into devices (id, last_message, unread) values ('peer', 'before', 2)");
    }
    rows_t peer_summary() { return store.rows("select last_message, unread from devices where id = 'peer'"); }
    std::string me;
};

struct summary_case {
    const char* name;
    bool incoming;
    const char* type;
    const char* message;  // expected last_message
    const char* unread;
};

const summary_case summary_cases[] = {
    {"incoming_text", true, "text", "hello", "3"},
    {"outgoing_text", false, "text", "hello", "2"},
    {"incoming_download", true, "download", "_new_files", "3"},
    {"outgoing_upload", false, "upload", "_sent_some_files", "2"},
    {"other_type_word", true, "Download", "hello", "3"},
};

class ChatSummaryTest : public ChatsTest, public ::testing::WithParamInterface<summary_case> {};

TEST_P(ChatSummaryTest, StoresTheChatAndThePeersSummary) {
    const summary_case& c = GetParam();
    const std::string sender = c.incoming ? "peer" : me;
    const std::string receiver = c.incoming ? me : "peer";
    EXPECT_TRUE(db_insert_chat("acct", "c1", sender, receiver, c.type, "hello"));

    const rows_t chat =
        store.rows("select sender, receiver, type, data, account, sent, date_created = date_updated from chats");
    EXPECT_EQ(chat, (rows_t{{sender, receiver, c.type, "hello", "acct", "", "1"}}));
    EXPECT_EQ(peer_summary(), (rows_t{{c.message, c.unread}}));
    EXPECT_EQ(store.text("select date_last_message from devices"), store.text("select date_created from chats"));
    EXPECT_EQ(store.text("select date_updated from devices"), store.text("select date_created from chats"));
}

INSTANTIATE_TEST_SUITE_P(Types, ChatSummaryTest, ::testing::ValuesIn(summary_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(ChatsTest, SameChatDeliveredAgainReplacesItAndCountsOnce) {
    ASSERT_TRUE(db_insert_chat("", "c1", "peer", me, "text", "hello"));
    db_mark_chat_sent("c1");
    store.exec("update chats set status = 'paused'");
    EXPECT_TRUE(db_insert_chat("", "c1", "peer", me, "text", "hello again"));
    EXPECT_EQ(store.rows("select data, sent, status from chats"), (rows_t{{"hello again", "", ""}}));
    EXPECT_EQ(peer_summary(), (rows_t{{"hello again", "3"}}));
}

TEST_F(ChatsTest, AnIdHeldByOneSenderIsNotOverwrittenByAnother) {
    ASSERT_TRUE(db_insert_chat("", "c1", "peer", me, "text", "original"));
    EXPECT_FALSE(db_insert_chat("", "c1", "intruder", me, "text", "forged"));
    EXPECT_FALSE(db_insert_chat("", "c1", me, "intruder", "text", "forged"));
    EXPECT_EQ(store.rows("select sender, data from chats"), (rows_t{{"peer", "original"}}));
    EXPECT_EQ(peer_summary(), (rows_t{{"original", "3"}}));
}

TEST_F(ChatsTest, UnsafeIdsAreRefused) {
    for (const char* id : {"", "../x", "a b", "a/b", "id;drop", "\xc3\xa9"}) {
        EXPECT_FALSE(db_insert_chat("", id, "peer", me, "text", "x")) << id;
    }
    EXPECT_TRUE(db_insert_chat("", "Ab-1_2.3", "peer", me, "text", "x"));
    EXPECT_EQ(store.number("select count(*) from chats"), 1);
}

TEST_F(ChatsTest, ChatWithAnUnknownDeviceLeavesDevicesAlone) {
    EXPECT_TRUE(db_insert_chat("", "c1", "stranger", me, "text", "hi"));
    EXPECT_EQ(store.number("select count(*) from devices"), 1);
    EXPECT_EQ(peer_summary(), (rows_t{{"before", "2"}}));
}

TEST_F(ChatsTest, FailedUnreadCountShowsAToastAndKeepsTheChat) {
    store.exec(
        "create trigger no_unread before update of unread on devices begin select raise(abort, 'unread locked'); end");
    EXPECT_TRUE(db_insert_chat("", "c1", "peer", me, "text", "hello"));
    EXPECT_EQ(store.number("select count(*) from chats"), 1);
    EXPECT_EQ(peer_summary(), (rows_t{{"hello", "2"}}));
    const auto toasts = store.platform().toasts();
    ASSERT_EQ(toasts.size(), 1u);
    EXPECT_EQ(toasts[0].first, "sqlite");
    EXPECT_NE(toasts[0].second.find("unread locked"), std::string::npos);
}

TEST_F(ChatsTest, UnsentChatsAreTheTenOldestOfThatTypeAndReceiver) {
    for (int i = 0; i < 15; ++i) {
        store.exec("insert into chats (id, receiver, type, date_created, sent) values ('t" + std::to_string(i) +
                   "', 'peer', 'text', " + std::to_string(1000 - i) + ", '" + (i % 2 ? "0" : "") + "')");
    }
    store.exec(
        "insert into chats (id, receiver, type, date_created) values ('u', 'peer', 'upload', 1), ('o', 'other', "
        "'text', 1)");
    auto unsent = db_get_unsent_chats("peer", "text");
    ASSERT_EQ(unsent.size(), 10u);
    EXPECT_EQ(unsent.front()["id"].string_value(), "t14");
    EXPECT_EQ(unsent.back()["id"].string_value(), "t5");
    EXPECT_EQ(unsent.front().object_items().size(), 6u);

    EXPECT_TRUE(db_mark_chat_sent("t14"));
    EXPECT_TRUE(db_mark_chat_sent("missing"));
    unsent = db_get_unsent_chats("peer", "text");
    EXPECT_EQ(unsent.front()["id"].string_value(), "t13");
    EXPECT_EQ(store.text("select sent from chats where id = 't14'"), "1");
    EXPECT_EQ(db_get_unsent_chats("peer", "upload").size(), 1u);
}

TEST_F(ChatsTest, SenderAndReceiverLookups) {
    ASSERT_TRUE(db_insert_chat("", "c1", "peer", me, "text", "x"));
    EXPECT_EQ(db_get_chat_sender("c1"), "peer");
    EXPECT_EQ(db_get_chat_receiver("c1"), me);
    EXPECT_EQ(db_get_chat_sender("missing"), "");
    EXPECT_EQ(db_get_chat_receiver("missing"), "");
}

TEST_F(ChatsTest, DeletingAPeersChatsTakesBothDirectionsOnly) {
    ASSERT_TRUE(db_insert_chat("", "in", "peer", me, "text", "x"));
    ASSERT_TRUE(db_insert_chat("", "out", me, "peer", "text", "x"));
    ASSERT_TRUE(db_insert_chat("", "other", "someone", me, "text", "x"));
    db_delete_chats_with_peer("peer");
    EXPECT_EQ(store.rows("select id from chats"), (rows_t{{"other"}}));
    EXPECT_EQ(store.number("select count(*) from devices where id = 'peer'"), 1);
    db_delete_chats_with_peer("nobody");
    EXPECT_EQ(store.number("select count(*) from chats"), 1);
}

}  // namespace
}  // namespace vandrel
