// What the interface asks to send meets the limits every peer keeps to: over a limit it
// is refused at once with the peer's own error code and nothing is kept, so that it can
// never stand in the way of what is typed after it.
#include <gtest/gtest.h>

#include <SQLiteCpp/SQLiteCpp.h>

#include <string>
#include <vector>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"
#include "tests/e2e/transfer_harness.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

class InterfaceLimits : public NetworkFixture<2> {
protected:
    void SetUp() override {
        NetworkFixture<2>::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        a_ = start_mesk_session(*net_, net_->device(0));
        b_ = start_mesk_session(*net_, net_->device(1));
        ASSERT_TRUE(a_ && b_);
        ASSERT_TRUE(a_->lists({{b_->id(), net_->device(1).address}}, clock_type::now() + 30s)) << "A never met B";
    }

    Json type_chat(const std::string& id, const std::string& text) {
        return a_->request(
            "/create_chat",
            Json(Json::object{
                     {"id", id}, {"sender", a_->id()}, {"receiver", b_->id()}, {"type", "text"}, {"data", text}})
                .dump());
    }

    // Rows of the table in A's store.
    std::int64_t rows_on_a(const std::string& table) {
        SQLite::Database db(net_->device(0).data_folder() + "app.db", SQLite::OPEN_READONLY, 5000);
        return db.execAndGet("select count(*) from " + table).getInt64();
    }

    static auto chat_id_is(const std::string& id) {
        return [id](const Json& e) { return e["info"]["id"].string_value() == id; };
    }

    std::unique_ptr<MeskSession> a_;
    std::unique_ptr<MeskSession> b_;
};

TEST_F(InterfaceLimits, ChatsOverTheLimitAreRefusedAndTheNextChatArrives) {
    const std::int64_t chats_before = rows_on_a("chats");
    for (int i = 1; i <= 10; ++i) {
        const std::string id = "long-" + std::to_string(i);
        const Json reply = type_chat(id, std::string(70000, 'x'));
        EXPECT_EQ(reply["status"].string_value(), "error") << reply.dump();
        EXPECT_EQ(reply["error_code"].string_value(), "too_long") << reply.dump();
        EXPECT_EQ(reply["id"].string_value(), id);
    }
    // At the limit is still a chat.
    EXPECT_EQ(type_chat("at-the-limit", std::string(std::size_t{64} * 1024, 'y'))["status"].string_value(), "success");
    EXPECT_EQ(type_chat("short-one", "still there?")["status"].string_value(), "success");

    for (const char* id : {"at-the-limit", "short-one"}) {
        const Json arrived = b_->event("new_chat", 30s, chat_id_is(id));
        ASSERT_FALSE(arrived.is_null()) << id << " never arrived";
        EXPECT_EQ(arrived["info"]["sender"].string_value(), a_->id());
    }
    EXPECT_EQ(rows_on_a("chats"), chats_before + 2) << "a refused chat was kept";
    for (const Json& e : a_->events_within("new_chat", 0ms)) {
        EXPECT_NE(e["info"]["id"].string_value().rfind("long-", 0), 0u) << "a refused chat was shown: " << e.dump();
    }
    for (const Json& e : b_->events_within("new_chat", 1s)) {
        EXPECT_NE(e["info"]["id"].string_value().rfind("long-", 0), 0u) << "a refused chat arrived: " << e.dump();
    }
}

TEST_F(InterfaceLimits, OffersAndNotificationsOverTheLimitsAreRefusedWithThePeersCodes) {
    const auto file = [](const std::string& name) {
        return Json::object{{"filename", name}, {"filesize", "5"}, {"fileurl", "token||" + name}, {"isDirectory", "0"}};
    };
    Json::array many;
    for (int i = 0; i < 1001; ++i) many.push_back(file("f" + std::to_string(i) + ".txt"));
    struct row {
        std::string name;
        std::string endpoint;
        Json body;
        std::string code;
    };
    const auto upload = [&](const std::string& id, Json::array files) {
        return Json(
            Json::object{{"id", id}, {"sender", a_->id()}, {"receiver", b_->id()}, {"files", std::move(files)}});
    };
    const std::vector<row> rows = {
        {"a chat id over its limit", "/create_chat",
         Json::object{{"id", std::string(129, 'i')},
                      {"sender", a_->id()},
                      {"receiver", b_->id()},
                      {"type", "text"},
                      {"data", "hi"}},
         "too_long"},
        {"a file name over its limit", "/create_upload", upload("long-name", {file(std::string(300, 'n'))}),
         "too_long"},
        {"one file over its name limit among others", "/create_upload",
         upload("one-long-name", {file("fine.txt"), file(std::string(256, 'n') + ".txt")}), "too_long"},
        {"more than 1,000 files", "/create_upload", upload("too-many", many), "too_many_files"},
        {"a notification title over its limit", "/add_notification",
         Json::object{{"title", std::string(4097, 't')}, {"description", "d"}}, "too_long"},
        {"a notification text over its limit", "/add_notification",
         Json::object{{"title", "t"}, {"description", std::string(5000, 'd')}}, "too_long"},
    };
    const std::int64_t chats_before = rows_on_a("chats");
    const std::int64_t files_before = rows_on_a("files_to_send");
    for (const row& r : rows) {
        SCOPED_TRACE(r.name);
        const Json reply = a_->request(r.endpoint, r.body.dump());
        EXPECT_EQ(reply["status"].string_value(), "error") << reply.dump();
        EXPECT_EQ(reply["error_code"].string_value(), r.code) << reply.dump();
    }
    EXPECT_EQ(rows_on_a("chats"), chats_before) << "a refused request was kept";
    EXPECT_EQ(rows_on_a("files_to_send"), files_before) << "a refused offer was kept";
    EXPECT_EQ(a_->request("/add_notification",
                          Json(Json::object{{"title", std::string(4096, 't')}, {"description", "at the limit"}}).dump())
                  .dump(),
              R"({"status": "success"})");

    // A file offered the way a user offers one still arrives.
    const std::string path = pictures_folder(net_->device(0)) + "fine.bin";
    const std::string sha = write_random_file(path, 20000, 7);
    const auto offered = offer_files(*a_, b_->id(), {path});
    ASSERT_TRUE(offered) << "the upload was not made";
    const Json arrived = b_->event("new_chat", 30s, chat_id_is(offered->chat_id));
    ASSERT_FALSE(arrived.is_null()) << "the offer after the refused ones never arrived";
}

}  // namespace
