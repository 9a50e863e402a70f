#include "core_lib/store/uploads.h"

#include <gtest/gtest.h>

#include "core_lib/store/chats.h"
#include "core_lib/store/settings.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using rows_t = std::vector<std::vector<std::string>>;

Json file_entry(const std::string& id, const std::string& name, Json size = Json("100")) {
    return Json::object{{"id", id}, {"filename", name}, {"fileurl", "tok|rel|" + name}, {"filesize", size}};
}

class UploadsTest : public testing::StoreTest {
protected:
    void SetUp() override {
        me = get_userid();
        store.exec("insert into devices (id, unread) values ('peer', 0)");
    }
    rows_t files() { return store.rows("select id, sent, bytes_transferred, status from files_to_send order by id"); }
    rows_t peer() { return store.rows("select last_message, unread from devices where id = 'peer'"); }
    std::string me;
};

TEST_F(UploadsTest, LifecycleThroughEveryStatus) {
    ASSERT_TRUE(db_insert_chat("", "u1", me, "peer", "upload", ""));
    db_store_upload({file_entry("f1", "a.txt", Json("100")), file_entry("f2", "b.txt", Json("200"))}, "acct", "u1", me,
                    "peer");
    EXPECT_EQ(store.rows("select id, sender, receiver, sent, account, status from uploads"),
              (rows_t{{"u1", me, "peer", "false", "acct", ""}}));
    EXPECT_EQ(
        store.rows("select filename, fileurl, filesize, upload_id, receiver from files_to_send order by id"),
        (rows_t{{"a.txt", "tok|rel|a.txt", "100", "u1", "peer"}, {"b.txt", "tok|rel|b.txt", "200", "u1", "peer"}}));
    EXPECT_EQ(files(), (rows_t{{"f1", "", "0", ""}, {"f2", "", "0", ""}}));
    EXPECT_EQ(db_get_unsent_files_of_upload("u1").size(), 2u);

    // Announced to the receiver.
    db_mark_file_to_send_sent({"f1", "f2"});
    EXPECT_TRUE(db_get_unsent_files_of_upload("u1").empty());

    // Progress, then the whole upload paused and resumed, then one file paused.
    db_set_file_to_send_progress(40, "f1");
    db_set_upload_status("u1", "paused");
    EXPECT_EQ(files(), (rows_t{{"f1", "1", "40", "paused"}, {"f2", "1", "0", "paused"}}));
    EXPECT_EQ(store.text("select status from chats where id = 'u1'"), "paused");
    EXPECT_EQ(store.text("select status from uploads where id = 'u1'"), "paused");
    EXPECT_EQ(db_get_file_to_send("f1")["status"].string_value(), "paused");
    db_set_upload_status("u1", "");
    // A stop marks the uploads row alone, until a resume clears it.
    db_stop_upload("u1");
    EXPECT_EQ(db_get_file_to_send("f1")["upload_status"].string_value(), "stopped");
    EXPECT_EQ(db_get_file_to_send("f1")["status"].string_value(), "");
    EXPECT_EQ(store.text("select status from chats where id = 'u1'"), "");
    db_set_upload_status("u1", "");
    EXPECT_EQ(db_get_file_to_send("f1")["upload_status"].string_value(), "");
    db_set_file_to_send_status("f2", "u1", "paused");
    db_set_file_to_send_status("f1", "other-upload", "paused");
    EXPECT_EQ(files(), (rows_t{{"f1", "1", "40", ""}, {"f2", "1", "0", "paused"}}));

    // "/resend": everything announced again from the start.
    db_set_upload_status("u1", "");
    db_mark_chat_sent("u1");
    db_reset_upload_for_resend("u1");
    EXPECT_EQ(files(), (rows_t{{"f1", "0", "0", ""}, {"f2", "0", "0", ""}}));
    EXPECT_EQ(store.text("select sent from chats where id = 'u1'"), "0");
    EXPECT_EQ(db_get_unsent_files_of_upload("u1").size(), 2u);

    // The receiver reports both complete: one notice naming the last file.
    store.ui().clear();
    db_complete_file_to_send({Json::object{{"id", "f1"}}, Json::object{{"id", "f2"}}});
    EXPECT_EQ(store.rows("select bytes_transferred from files_to_send order by id"), (rows_t{{"100"}, {"200"}}));
    EXPECT_EQ(peer(), (rows_t{{"_download_complete_b.txt", "1"}}));
    db_set_file_to_send_progress(99, "f1");
    EXPECT_EQ(store.text("select bytes_transferred from files_to_send where id = 'f1'"), "100")
        << "a confirmed file stays complete";
    EXPECT_EQ(store.ui().actions(), std::vector<std::string>{"peers_updated"});
}

TEST_F(UploadsTest, EmptyUploadStoresOnlyItsRow) {
    db_store_upload({}, "", "u1", me, "peer");
    EXPECT_EQ(store.number("select count(*) from uploads"), 1);
    EXPECT_EQ(store.number("select count(*) from files_to_send"), 0);
}

TEST_F(UploadsTest, StoringAKnownFileIdReplacesItsRow) {
    db_store_upload({file_entry("f1", "a.txt")}, "", "u1", me, "peer");
    db_mark_file_to_send_sent({"f1"});
    db_set_file_to_send_progress(50, "f1");
    db_set_file_to_send_status("f1", "u1", "paused");
    db_store_upload({file_entry("f1", "a.txt", Json(100))}, "", "u2", me, "peer");
    EXPECT_EQ(store.rows("select upload_id, sent, bytes_transferred, status, filesize from files_to_send"),
              (rows_t{{"u2", "", "0", "", ""}}));
}

TEST_F(UploadsTest, UnsentFilesComeOldestFirstAtMostAThousand) {
    std::string sql = "insert into files_to_send (id, upload_id, date_created) values ";
    for (int i = 0; i < 1001; ++i)
        sql += std::string(i ? "," : "") + "('f" + std::to_string(i) + "', 'u1', " + std::to_string(5000 - i) + ")";
    store.exec(sql);
    const auto unsent = db_get_unsent_files_of_upload("u1");
    ASSERT_EQ(unsent.size(), 1000u);
    EXPECT_EQ(unsent.front()["id"].string_value(), "f1000");
    EXPECT_EQ(unsent.back()["id"].string_value(), "f1");
    EXPECT_EQ(unsent.front().object_items().size(), 3u);
}

struct no_notice_case {
    const char* name;
    std::vector<Json> files;
};

class CompleteWithoutNoticeTest : public UploadsTest, public ::testing::WithParamInterface<no_notice_case> {};

TEST_P(CompleteWithoutNoticeTest, ChangesNoDevice) {
    db_store_upload({file_entry("f1", "a.txt")}, "", "u1", me, "peer");
    db_store_upload({file_entry("lonely", "b.txt")}, "", "u2", me, "");
    store.ui().clear();
    db_complete_file_to_send(GetParam().files);
    EXPECT_EQ(peer(), (rows_t{{"", "0"}}));
    EXPECT_TRUE(store.ui().texts().empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, CompleteWithoutNoticeTest,
                         ::testing::Values(no_notice_case{"empty_list", {}},
                                           no_notice_case{"last_without_id",
                                                          {Json::object{{"id", "f1"}}, Json::object{{"name", "x"}}}},
                                           no_notice_case{"unknown_file", {Json::object{{"id", "nope"}}}},
                                           no_notice_case{"empty_receiver", {Json::object{{"id", "lonely"}}}}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(UploadsTest, FileToSendRecordOrNull) {
    db_store_upload({file_entry("f1", "a.txt")}, "", "u1", me, "peer");
    EXPECT_EQ(db_get_file_to_send("f1"), Json(Json::object{{"id", "f1"},
                                                           {"filename", "a.txt"},
                                                           {"filesize", "100"},
                                                           {"fileurl", "tok|rel|a.txt"},
                                                           {"receiver", "peer"},
                                                           {"status", ""},
                                                           {"upload_status", ""}}));
    EXPECT_TRUE(db_get_file_to_send("missing").is_null());
}

}  // namespace
}  // namespace vandrel
