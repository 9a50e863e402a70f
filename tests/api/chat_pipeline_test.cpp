#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/api/chat_pipeline.h"
#include "core_lib/foundation/file_names.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/service_flags.h"
#include "tests/api/api_fixture.h"

namespace vandrel::api_test {
namespace {

Json chat_request(const std::string& id, const std::string& sender, const std::string& receiver, const Json& data,
                  const std::string& type = "text") {
    return Json::object{{"id", id}, {"sender", sender}, {"receiver", receiver}, {"type", type}, {"data", data}};
}

Json file_entry(const std::string& id, const std::string& name, const std::string& size) {
    return Json::object{
        {"id", id}, {"filename", name}, {"filesize", size}, {"fileurl", "src|/" + name}, {"isDirectory", "0"}};
}

class ChatPipelineTest : public ApiTest {
protected:
    // The peers these tests speak as are proven at the peer address.
    void SetUp() override {
        ApiTest::SetUp();
        for (const char* peer : {"peer-a", "peer-b"}) set_peer_ip(peer, peer_address);
    }

    // Analytics events stored, by their "event" word.
    std::vector<Json> analytics(const std::string& word) {
        std::vector<Json> found;
        for (const auto& row : store.rows("select event from events order by rowid")) {
            const Json event = parse(row[0]);
            if (event["event"].string_value() == word) found.push_back(event);
        }
        return found;
    }
    std::string chat_column(const std::string& column, const std::string& id) {
        return store.text("select " + column + " from chats where id = '" + id + "'");
    }
    std::int64_t chat_count() { return store.number("select count(*) from chats"); }

    // Holds every pool worker and the chat lane until release() so that queued work
    // visibly waits.
    void hold_workers() {
        const auto hold = [this] {
            while (!released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        };
        for (unsigned i = 0; i < background_worker_count(); ++i) start_background_job("hold", hold);
        start_chat_job("hold", hold);
    }
    void release() { released = true; }
    std::atomic<bool> released{false};
};

// A device killed right after its "success" must still have the chat: short requests
// are stored on the caller's thread, longer ones on the chat lane (behind what holds
// it), and the reply waits for either.
TEST_F(ChatPipelineTest, EveryChatIsStoredBeforeItsReplyLongOnesInTheLanesOrder) {
    for (const std::size_t length : {inline_chat_limit, inline_chat_limit + 1}) {
        const std::string id = "len" + std::to_string(length);
        std::string text;
        Json chat = chat_request(id, "peer-a", "me", text);
        while (chat.dump().size() < length) chat = chat_request(id, "peer-a", "me", text += "x");
        ASSERT_EQ(chat.dump().size(), length);

        released = false;
        hold_workers();
        std::atomic<bool> replied{false};
        std::thread releaser([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            // The short one was answered without the lane; the long one waits for it.
            EXPECT_EQ(replied.load(), length <= inline_chat_limit) << length;
            release();
        });
        EXPECT_EQ(call_text("/create_chat", chat), Json(Json::object{{"id", id}, {"status", "success"}}).dump());
        replied = true;
        EXPECT_EQ(chat_count(), 1) << length << ": answered before it was stored";
        releaser.join();
        settle();
        EXPECT_EQ(chat_column("data", id), text);
        store.exec("delete from chats");
    }
}

TEST_F(ChatPipelineTest, IdsAreTrimmedForTheStoreButRepliedAsSent) {
    EXPECT_EQ(call_text("/create_chat", chat_request(" c1 ", " peer-a ", " me ", "hi")),
              R"({"id": " c1 ", "status": "success"})");
    EXPECT_EQ(chat_column("sender", "c1"), "peer-a");
    EXPECT_EQ(chat_column("receiver", "c1"), "me");
}

TEST_F(ChatPipelineTest, AnEmptyFieldIsAnsweredWithItsCodeAndNothingHappens) {
    const struct {
        Json chat;
        const char* code;
    } cases[] = {
        {Json::object{{"sender", "a"}, {"receiver", "b"}, {"type", "text"}, {"data", "x"}}, "empty_id"},
        {chat_request("   ", "a", "b", "x"), "empty_id"},
        {chat_request("c", "", "b", "x"), "empty_sender"},
        {chat_request("c", "  ", "b", "x"), "empty_sender"},
        {chat_request("c", "a", "", "x"), "empty_receiver"},
        {Json::object{{"id", "c"}, {"sender", "a"}, {"receiver", 5}}, "empty_receiver"},
    };
    for (const auto& c : cases) {
        const Json reply = call("/create_chat", c.chat);
        EXPECT_EQ(reply["status"].string_value(), "error") << c.chat.dump();
        EXPECT_EQ(reply["error_code"].string_value(), c.code) << c.chat.dump();
        EXPECT_EQ(reply["id"], c.chat["id"].is_string() ? c.chat["id"] : Json("")) << c.chat.dump();
    }
    settle();
    EXPECT_EQ(chat_count(), 0);
    EXPECT_TRUE(store.ui().texts().empty());
    EXPECT_TRUE(store.platform().toasts().empty());
    EXPECT_EQ(drain_resend_wakeups(), 0u);
}

TEST_F(ChatPipelineTest, AnIncomingTextIsMarkedSentToastedAndAnnounced) {
    forget_peer_ip("peer-a");
    db_upsert_device("peer-a", "Model", "Alice", "");
    store.ui().clear();
    call("/create_chat", chat_request("c1", "peer-a", "me", "hello"));

    EXPECT_EQ(chat_column("data", "c1"), "hello");
    EXPECT_EQ(chat_column("sent", "c1"), "1");
    EXPECT_EQ(store.platform().toasts(), (std::vector<std::pair<std::string, std::string>>{{"Alice", "\"hello\""}}));
    const std::vector<Json> announced = events_of("new_chat");
    ASSERT_EQ(announced.size(), 1u);
    EXPECT_EQ(announced[0]["info"]["id"].string_value(), "c1");
    EXPECT_EQ(announced[0]["info"]["sent"].string_value(), "1");
    EXPECT_EQ(drain_resend_wakeups(), 0u);
    EXPECT_EQ(analytics("chat").size(), 1u);
    // A local origin is no address.
    EXPECT_EQ(get_peer_ip("peer-a"), "");
}

// A sender killed after the chat was stored here but before it heard the answer
// delivers it again when it starts: one row, one toast, one "new_chat", one unread.
TEST_F(ChatPipelineTest, ATextDeliveredAgainIsKeptAndToldOnce) {
    db_upsert_device("peer-a", "Model", "Alice", "");
    store.ui().clear();
    const Json chat = chat_request("again-1", "peer-a", own_id, "said once, heard twice");
    for (int delivery = 0; delivery < 2; ++delivery) {
        EXPECT_EQ(call("/create_chat", chat, peer_address)["status"].string_value(), "success");
        settle();
    }
    EXPECT_EQ(chat_count(), 1);
    EXPECT_EQ(chat_column("sent", "again-1"), "1");
    EXPECT_EQ(store.platform().toasts().size(), 1u);
    EXPECT_EQ(events_of("new_chat").size(), 1u);
    EXPECT_EQ(store.number("select unread from devices where id = 'peer-a'"), 1);
}

TEST_F(ChatPipelineTest, AnIncomingChatFromAProvenPeerIsKeptAsDelivered) {
    call("/create_chat", chat_request("c1", "peer-a", own_id, "hello"), peer_address);
    settle();
    EXPECT_EQ(chat_column("sent", "c1"), "1");
    // Unknown peer: the toast has no heading.
    ASSERT_EQ(store.platform().toasts().size(), 1u);
    EXPECT_EQ(store.platform().toasts()[0].first, "");
}

TEST_F(ChatPipelineTest, AnOutgoingTextWakesTheResendLoopOnce) {
    call("/create_chat", chat_request("c1", own_id, "peer-a", "hi"));
    settle();
    EXPECT_EQ(chat_column("sent", "c1"), "");
    EXPECT_TRUE(store.platform().toasts().empty());
    EXPECT_EQ(events_of("new_chat").size(), 1u);
    EXPECT_EQ(drain_resend_wakeups(), 1u);
}

TEST_F(ChatPipelineTest, AnUploadStoresItsFilesAndItsAnalyticsEvent) {
    const Json data =
        Json::object{{"files", Json::array{file_entry("f1", "a.txt", "10"), file_entry("f2", "b.PNG", "20")}}};
    call("/create_chat", chat_request("u1", own_id, "peer-a", data, "upload"));
    settle();

    EXPECT_EQ(store.rows("select id, filename, filesize, upload_id, receiver from files_to_send order by id"),
              (std::vector<std::vector<std::string>>{{"f1", "a.txt", "10", "u1", "peer-a"},
                                                     {"f2", "b.PNG", "20", "u1", "peer-a"}}));
    EXPECT_EQ(chat_column("data", "u1"), "u1");
    const std::vector<Json> recorded = analytics("file_upload");
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0]["number_of_files"].string_value(), "2");
    EXPECT_EQ(recorded[0]["size_of_files"].string_value(), "30");
    EXPECT_EQ(recorded[0]["mime_type"].string_value(), "image/png");
    EXPECT_EQ(drain_resend_wakeups(), 1u);
    EXPECT_EQ(events_of("new_chat").at(0)["info"]["info"]["number_of_files"].string_value(), "2");
}

TEST_F(ChatPipelineTest, AnEmptyUploadCountsNothing) {
    call("/create_chat", chat_request("u1", own_id, "peer-a", Json::object{{"files", Json::array{}}}, "upload"));
    settle();
    const std::vector<Json> recorded = analytics("file_upload");
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0]["number_of_files"].string_value(), "0");
    EXPECT_EQ(recorded[0]["size_of_files"].string_value(), "0");
    EXPECT_EQ(recorded[0]["mime_type"].string_value(), "");
}

TEST_F(ChatPipelineTest, ADownloadGetsCleanNamesLocalTargetsAndQueuedRows) {
    set_downloads_pending(false);
    const Json data = Json::object{
        {"files", Json::array{file_entry("f1", "a<b>.txt", "7"), file_entry("f2", "trip/../one/clip.mp4", "0")}}};
    call("/create_chat", chat_request("d1", "peer-a", own_id, data, "download"), peer_address);
    settle();

    // The names keep their folders, each step made safe.
    EXPECT_EQ(
        store.rows("select id, filename, filesize, fileurl, status, download_id from files_to_receive order by id"),
        (std::vector<std::vector<std::string>>{
            {"f1", "ab.txt", "7", "token||a<b>.txt", "queued", "d1"},
            {"f2", "trip/one/clip.mp4", "0", "token||trip/../one/clip.mp4", "queued", "d1"}}));
    { EXPECT_TRUE(get_downloads_pending()); }
    EXPECT_EQ(store.platform().toasts().at(0).second, "files to get:2");
    const std::vector<Json> recorded = analytics("file_download");
    ASSERT_EQ(recorded.size(), 1u);
    EXPECT_EQ(recorded[0]["number_of_files"].string_value(), "2");
    EXPECT_EQ(recorded[0]["size_of_files"].string_value(), "7");
    EXPECT_EQ(recorded[0]["mime_type"].string_value(), "video/mp4");
    // Three files handled at once: no progress notice.
    EXPECT_TRUE(events_of("feedback_for_peer").empty());
}

TEST_F(ChatPipelineTest, AnOfferedSizeThatIsNoByteCountRefusesTheOffer) {
    for (const std::string size : {"abc", "", "-1", "1.5", " 7", "+7", "7 ", "0x10", "99999999999999999999"}) {
        SCOPED_TRACE(size);
        const Json data =
            Json::object{{"files", Json::array{file_entry("f0", "a.txt", "1"), file_entry("f1", "b", size)}}};
        const Json reply = call("/create_chat", chat_request("d1", "peer-a", own_id, data, "download"), peer_address);
        EXPECT_EQ(reply["status"].string_value(), "error");
        EXPECT_EQ(reply["error_code"].string_value(), "invalid_file_size");
    }
    settle();
    EXPECT_EQ(store.text("select count(*) from files_to_receive"), "0");
    EXPECT_EQ(chat_count(), 0);
    const Json largest = Json::object{{"files", Json::array{file_entry("f2", "c", "9223372036854775807")}}};
    EXPECT_EQ(call("/create_chat", chat_request("d2", "peer-a", own_id, largest, "download"), peer_address)["status"]
                  .string_value(),
              "success");
}

TEST_F(ChatPipelineTest, ALongNameIsKeptWithinThePathLimitsAndTheOfferTaken) {
    std::string deep;  // eight folders of 38 characters
    for (int i = 0; i < 8; ++i) deep += std::string(37, static_cast<char>('a' + i)) + std::to_string(i) + "/";
    const std::string long_step = std::string(300, 's') + "/" + std::string(300, 'n') + ".txt";
    const Json data =
        Json::object{{"files", Json::array{file_entry("f1", deep + "short.txt", "1"), file_entry("f2", long_step, "1"),
                                           file_entry("f3", "x", "1")}}};
    const Json reply = call("/create_chat", chat_request("d1", "peer-a", own_id, data, "download"), peer_address);
    EXPECT_EQ(reply["status"].string_value(), "success") << reply.dump();
    settle();
    EXPECT_EQ(store.text("select filename from files_to_receive where id = 'f1'"), deep + "short.txt");
    const std::string kept = store.text("select filename from files_to_receive where id = 'f2'");
    EXPECT_EQ(kept, std::string(max_file_name_bytes, 's') + "/" + std::string(max_file_name_bytes - 4, 'n') + ".txt");
    EXPECT_EQ(store.text("select count(*) from files_to_receive"), "3");
}

TEST_F(ChatPipelineTest, ADownloadTheStoreRefusesLeavesNoChat) {
    const Json data = Json::object{{"files", Json::array{file_entry("../../etc", "a.txt", "1")}}};
    call("/create_chat", chat_request("d1", "peer-a", own_id, data, "download"), peer_address);
    settle();
    EXPECT_EQ(chat_count(), 0);
    EXPECT_TRUE(events_of("new_chat").empty());
    EXPECT_TRUE(store.platform().toasts().empty());
}

TEST_F(ChatPipelineTest, OtherTypesStoreTheirIdAsData) {
    call("/create_chat", chat_request("n1", "peer-a", "me", "ignored", "note"));
    EXPECT_EQ(chat_column("data", "n1"), "n1");
    EXPECT_EQ(chat_column("type", "n1"), "note");
    EXPECT_EQ(analytics("chat").size(), 1u);

    // A text whose data is not a string is stored empty; its toast shows the JSON.
    call("/create_chat", chat_request("t1", "peer-a", "me", Json::array{1, 2}));
    EXPECT_EQ(chat_column("data", "t1"), "");
    EXPECT_EQ(store.platform().toasts().back().second, "[1, 2]");
}

TEST_F(ChatPipelineTest, AChatIdHeldByAnotherSenderIsNeitherStoredNorAnnounced) {
    call("/create_chat", chat_request("c1", "peer-a", "me", "first"));
    store.ui().clear();
    const std::size_t toasts = store.platform().toasts().size();
    call("/create_chat", chat_request("c1", "peer-b", "me", "second"));
    EXPECT_EQ(chat_column("data", "c1"), "first");
    EXPECT_TRUE(events_of("new_chat").empty());
    EXPECT_EQ(store.platform().toasts().size(), toasts);
}

TEST_F(ChatPipelineTest, APeerMaySpeakOnlyForItself) {
    const struct {
        Json chat;
        std::string origin;
        std::string status;
    } cases[] = {
        {chat_request("c1", own_id, "peer-a", "spoofed"), peer_address, "error"},
        {chat_request("c2", " " + own_id + " ", "peer-a", "spoofed"), peer_address, "error"},
        {chat_request("c3", "peer-a", own_id, Json::object{{"files", Json::array{}}}, "upload"), peer_address, "error"},
        {chat_request("c4", "peer-a", own_id, "fine"), peer_address, "success"},
        {chat_request("c5", own_id, "peer-a", "mine"), "test", "success"},
        {chat_request("c6", own_id, "peer-a", Json::object{{"files", Json::array{}}}, "upload"), "test", "success"},
    };
    for (const auto& c : cases) {
        const Json reply = call("/create_chat", c.chat, c.origin);
        EXPECT_EQ(reply["status"].string_value(), c.status) << c.chat.dump();
        if (c.status == "error") {
            EXPECT_EQ(reply["error_code"].string_value(), "forbidden");
        }
    }
    settle();
    EXPECT_EQ(chat_column("id", "c1"), "");
    EXPECT_EQ(chat_column("id", "c2"), "");
    EXPECT_EQ(chat_column("id", "c3"), "");
    EXPECT_EQ(chat_column("id", "c4"), "c4");
    EXPECT_EQ(chat_column("id", "c6"), "c6");
}

TEST_F(ChatPipelineTest, AMirroredNotificationBecomesAnIncomingTextFromTheNotifyingPeer) {
    db_upsert_device("peer-a", "Model", "Alice", "");
    db_upsert_device("peer-b", "Model", "Bob", "");
    // The body names another peer's alias: the toast shows the sender's own.
    const Json reply =
        call("/mirror_notification",
             Json::object{
                 {"title", "Mail"}, {"description", "New message"}, {"device_alias", "Alice"}, {"device_id", "peer-b"}},
             peer_address);
    EXPECT_EQ(reply["status"].string_value(), "success");
    const std::string id = reply["id"].string_value();
    EXPECT_EQ(id.size(), 64u);
    const std::vector<Json> shown = events_of("mirror_notification");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].dump(),
              R"({"action": "mirror_notification", "alias": "Bob", "description": "New message", "title": "Mail"})");
    settle();

    EXPECT_EQ(chat_column("sender", id), "peer-b");
    EXPECT_EQ(chat_column("receiver", id), own_id);
    EXPECT_EQ(chat_column("data", id), "App: Mail\nNew message");
    EXPECT_EQ(chat_column("sent", id), "1");
    const auto toasts = store.platform().toasts();
    ASSERT_EQ(toasts.size(), 2u);
    EXPECT_EQ(toasts[0], std::make_pair(std::string("Bob"), std::string("App: Mail\nNew message")));
    EXPECT_EQ(toasts[1].second, "\"App: Mail\\nNew message\"");
    EXPECT_EQ(get_peer_ip("peer-b"), peer_address);
}

TEST_F(ChatPipelineTest, AMirroredNotificationFromAPeerWithoutStoredAliasShowsItsId) {
    call("/mirror_notification",
         Json::object{{"title", "T"}, {"description", "D"}, {"device_alias", "Alice"}, {"device_id", "peer-b"}},
         peer_address);
    const std::vector<Json> shown = events_of("mirror_notification");
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0]["alias"].string_value(), "peer-b");
}

TEST_F(ChatPipelineTest, AMirroredNotificationWithoutSenderIsNeitherShownNorStored) {
    for (const std::string origin : {"from_ui", peer_address.c_str()}) {
        const Json reply = call("/mirror_notification", Json::object{{"title", "T"}}, origin);
        EXPECT_EQ(reply["error_code"].string_value(), "empty_sender") << origin;
    }
    settle();
    EXPECT_TRUE(events_of("mirror_notification").empty());
    EXPECT_TRUE(store.platform().toasts().empty());
    EXPECT_EQ(chat_count(), 0);
}

TEST_F(ChatPipelineTest, APeerCannotMirrorAsThisDevice) {
    const Json reply = call("/mirror_notification", Json::object{{"title", "T"}, {"device_id", own_id}}, peer_address);
    EXPECT_EQ(reply["error_code"].string_value(), "forbidden");
    settle();
    EXPECT_TRUE(store.ui().texts().empty());
    EXPECT_TRUE(store.platform().toasts().empty());
    EXPECT_EQ(chat_count(), 0);
}

TEST_F(ChatPipelineTest, AddNotificationQueuesOneMirroredNotification) {
    EXPECT_EQ(call_text("/add_notification", Json::object{{"title", "T"}, {"description", "D"}}),
              R"({"status": "success"})");
    EXPECT_EQ(call_text("/add_notification", Json()), R"({"status": "success"})");
    const std::vector<Json> queued = drain_mirror_queue();
    ASSERT_EQ(queued.size(), 2u);
    EXPECT_EQ(queued[0],
              Json(Json::object{{"title", "T"}, {"description", "D"}, {"device_id", own_id}, {"device_alias", alias}}));
    EXPECT_EQ(queued[1]["title"].string_value(), "");
}

}  // namespace
}  // namespace vandrel::api_test
