#include "core_lib/store/downloads.h"

#include <gtest/gtest.h>

#include "core_lib/store/chats.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/settings.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using rows_t = std::vector<std::vector<std::string>>;

Json file_entry(const std::string& id, const std::string& name, Json size = Json("100")) {
    return Json::object{{"id", id}, {"filename", name}, {"fileurl", "remote/" + name}, {"filesize", size}};
}

bool downloads_pending_now() { return get_downloads_pending(); }

class DownloadsTest : public testing::StoreTest {
protected:
    void SetUp() override {
        me = get_userid();
        store.exec("insert into devices (id, unread) values ('peer', 0)");
    }
    rows_t files() { return store.rows("select id, status, bytes_transferred from files_to_receive order by id"); }
    rows_t peer() { return store.rows("select last_message, unread from devices where id = 'peer'"); }
    void store_two() {
        ASSERT_TRUE(db_store_download({file_entry("f1", "a.jpg", Json("100")), file_entry("f2", "b.txt", Json("200"))},
                                      "acct", "d1", "peer", me));
    }
    std::string me;
};

TEST_F(DownloadsTest, LifecycleThroughEveryStatus) {
    store_two();
    EXPECT_TRUE(downloads_pending_now());
    EXPECT_EQ(store.rows("select id, sender, receiver, sent, account from downloads"),
              (rows_t{{"d1", "peer", me, "1", "acct"}}));
    EXPECT_EQ(
        store.rows("select filename, filesize, sender, fileurl, download_id, sent from files_to_receive order by id"),
        (rows_t{{"a.jpg", "100", "peer", "remote/a.jpg", "d1", ""},
                {"b.txt", "200", "peer", "remote/b.txt", "d1", ""}}));
    EXPECT_EQ(files(), (rows_t{{"f1", "queued", "0"}, {"f2", "queued", "0"}}));

    // The download thread takes the file stored last and saves progress.
    const Json next = db_get_next_queued_file_to_receive("peer");
    EXPECT_EQ(next, Json(Json::object{{"file_id", "f2"}, {"download_id", "d1"}}));
    db_set_file_to_receive_progress(150, "f2");

    // f2 arrives: its sender hears of it once, also when told twice.
    db_set_file_received_status("f2", "d1", "complete");
    db_set_file_received_status("f2", "d1", "complete");
    EXPECT_EQ(peer(), (rows_t{{"_received_b.txt", "1"}}));
    EXPECT_EQ(store.ui().count("peers_updated"), 1u);

    // f1 fails, which is no news for the sender's summary.
    db_set_file_received_status("f1", "d1", "error");
    EXPECT_EQ(peer(), (rows_t{{"_received_b.txt", "1"}}));
    EXPECT_EQ(files(), (rows_t{{"f1", "error", "0"}, {"f2", "complete", "150"}}));
    EXPECT_TRUE(db_get_next_queued_file_to_receive("peer").is_null());

    // The sender accepted "/completed_downloads" for f2.
    const auto complete = db_get_files_to_receive("peer", "complete", 1000);
    ASSERT_EQ(complete.size(), 1u);
    EXPECT_EQ(complete[0],
              Json(Json::object{{"id", "f2"}, {"bytes_transferred", "150"}, {"filesize", "200"}, {"chat_id", "d1"}}));
    db_set_files_to_receive_status("complete_sent", complete);
    EXPECT_EQ(files(), (rows_t{{"f1", "error", "0"}, {"f2", "complete_sent", "150"}}));

    // One file queued again keeps its bytes; the whole download stopped, then queued:
    // the file that arrived stays as it is.
    db_set_file_to_receive_progress(30, "f1");
    db_set_file_received_status("f1", "d1", "queued");
    EXPECT_EQ(files()[0], (std::vector<std::string>{"f1", "queued", "30"}));
    db_set_download_status("d1", "stopped");
    EXPECT_EQ(files(), (rows_t{{"f1", "stopped", "30"}, {"f2", "complete_sent", "150"}}));
    db_set_download_status("d1", "queued");
    EXPECT_EQ(files(), (rows_t{{"f1", "queued", "0"}, {"f2", "complete_sent", "150"}}));

    // The file arrives the second time round and counts again.
    db_set_file_received_status("f1", "d1", "complete");
    EXPECT_EQ(peer(), (rows_t{{"_received_a.jpg", "2"}}));
}

TEST_F(DownloadsTest, ArrivedFilesAreNeverQueuedOrStoppedAgain) {
    store_two();
    db_set_file_to_receive_progress(100, "f1");
    db_set_file_received_status("f1", "d1", "complete");
    for (const char* word : {"queued", "stopped"}) {
        db_set_file_received_status("f1", "d1", word);
        db_set_download_status("d1", word);
        EXPECT_EQ(files()[0], (std::vector<std::string>{"f1", "complete", "100"})) << word;
    }
    // The same chat delivered again requeues only what has not arrived.
    db_set_download_status("d1", "stopped");
    store_two();
    EXPECT_EQ(files(), (rows_t{{"f1", "complete", "100"}, {"f2", "queued", "0"}}));
    EXPECT_EQ(peer(), (rows_t{{"_received_a.jpg", "1"}}));
}

// The sender's "/resend" took every file of the upload back to no bytes and offers
// them again: a file whose arrival it had been told is told again (the next notice
// holds it), not fetched again nor counted again.
TEST_F(DownloadsTest, AFileOfferedAgainAfterItsNoticeIsToldAgain) {
    store_two();
    db_set_file_received_status("f1", "d1", "complete");
    db_set_files_to_receive_status("complete_sent", db_get_files_to_receive("peer", "complete", 1000));
    store_two();
    EXPECT_EQ(files(), (rows_t{{"f1", "complete", "0"}, {"f2", "queued", "0"}}));
    const auto notice = db_get_files_to_receive("peer", "complete", 1000);
    ASSERT_EQ(notice.size(), 1u);
    EXPECT_EQ(notice[0]["id"].string_value(), "f1");
    EXPECT_EQ(peer(), (rows_t{{"_received_a.jpg", "1"}}));
    EXPECT_TRUE(db_get_next_queued_file_to_receive("peer")["file_id"].string_value() == "f2");
}

TEST_F(DownloadsTest, EmptyDownloadStillWakesTheDownloadThread) {
    EXPECT_TRUE(db_store_download({}, "", "d1", "peer", me));
    EXPECT_EQ(store.number("select count(*) from downloads"), 1);
    EXPECT_TRUE(downloads_pending_now());
}

TEST_F(DownloadsTest, StoringAgainReplacesTheRows) {
    store_two();
    db_set_file_received_status("f1", "d1", "complete");
    db_set_file_to_receive_progress(100, "f1");
    ASSERT_TRUE(db_store_download({file_entry("f1", "a.jpg", Json(100))}, "", "d2", "peer", me));
    EXPECT_EQ(
        store.rows("select status, bytes_transferred, download_id, filesize from files_to_receive where id = 'f1'"),
        (rows_t{{"queued", "0", "d2", ""}}));
}

struct takeover_case {
    const char* name;
    const char* existing;  // SQL run first
    const char* download_id;
    const char* file_id;
};

const takeover_case takeovers[] = {
    {"download_of_another_sender", "insert into downloads (id, sender) values ('d9', 'other')", "d9", "new"},
    {"chat_of_another_sender", "insert into chats (id, sender) values ('d9', 'other')", "d9", "new"},
    {"file_of_another_sender", "insert into files_to_receive (id, sender, status) values ('f9', 'other', 'complete')",
     "d9", "f9"},
    {"unsafe_download_id", "select 1", "../d9", "new"},
    {"unsafe_file_id", "select 1", "d9", "a/../../x"},
    {"empty_file_id", "select 1", "d9", ""},
};

class TakeoverTest : public DownloadsTest, public ::testing::WithParamInterface<takeover_case> {};

TEST_P(TakeoverTest, IsRefusedAndStoresNothing) {
    store.exec(GetParam().existing);
    const auto before = store.rows("select * from files_to_receive");
    set_downloads_pending(false);
    EXPECT_FALSE(db_store_download({file_entry(GetParam().file_id, "x.txt")}, "", GetParam().download_id, "peer", me));
    EXPECT_EQ(store.rows("select * from files_to_receive"), before);
    EXPECT_EQ(store.number("select count(*) from downloads where sender = 'peer'"), 0);
    EXPECT_FALSE(downloads_pending_now());
}

INSTANTIATE_TEST_SUITE_P(Cases, TakeoverTest, ::testing::ValuesIn(takeovers),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(DownloadsTest, ReceivedStatusNeedsTheRightDownloadAndASender) {
    store_two();
    db_set_file_received_status("f1", "wrong", "complete");
    db_set_file_received_status("missing", "d1", "complete");
    EXPECT_EQ(files()[0][1], "queued");
    EXPECT_EQ(peer(), (rows_t{{"", "0"}}));

    store.exec("insert into files_to_receive (id, download_id, status) values ('anon', 'd5', 'queued')");
    db_set_file_received_status("anon", "d5", "complete");
    EXPECT_EQ(store.text("select status from files_to_receive where id = 'anon'"), "complete");
    EXPECT_EQ(store.ui().count("peers_updated"), 0u);
}

TEST_F(DownloadsTest, StatusListByIdOnlyTouchesListedFiles) {
    store_two();
    db_set_file_to_receive_progress(10, "f1");
    db_set_file_to_receive_progress(20, "f2");
    db_set_files_to_receive_status("queued", {Json::object{{"id", "f1"}}, Json::object{{"name", "no id"}}});
    EXPECT_EQ(files(), (rows_t{{"f1", "queued", "0"}, {"f2", "queued", "20"}}));
}

TEST_F(DownloadsTest, NextQueuedFileComesFromTheLaterDownload) {
    ASSERT_TRUE(db_store_download({file_entry("early", "a.txt")}, "", "d1", "peer", me));
    store.exec("update files_to_receive set date_updated = date_updated - 1000");
    ASSERT_TRUE(db_store_download({file_entry("late", "b.txt")}, "", "d2", "peer", me));
    EXPECT_EQ(db_get_next_queued_file_to_receive("peer")["file_id"].string_value(), "late");
    EXPECT_TRUE(db_get_next_queued_file_to_receive("someone else").is_null());
}

TEST_F(DownloadsTest, FilesToReceiveNewestFirstUpToTheLimit) {
    std::string sql = "insert into files_to_receive (id, sender, status, date_created, download_id) values ";
    for (int i = 0; i < 1500; ++i) {
        sql += std::string(i ? "," : "") + "('f" + std::to_string(10000 + i) + "', 'peer', 'complete', " +
               std::to_string(i / 2) + ", 'd')";
    }
    store.exec(sql);
    const auto list = db_get_files_to_receive("peer", "complete", 1000);
    ASSERT_EQ(list.size(), 1000u);
    EXPECT_EQ(list[0]["id"].string_value(), "f11499");
    EXPECT_EQ(list[1]["id"].string_value(), "f11498");
    EXPECT_EQ(list.back()["id"].string_value(), "f10500");
    EXPECT_TRUE(db_get_files_to_receive("peer", "queued", 10).empty());
}

TEST_F(DownloadsTest, DownloadsFromSenderAfterATimeWithTheirFiles) {
    store.exec(
        "insert into downloads (id, sender, date_created) values ('d1', 'peer', 100), ('d2', 'peer', 200), "
        "('d3', 'peer', 300), ('x', 'other', 400)");
    store.exec(
        "insert into files_to_receive (id, download_id, filename, filesize, sender) values "
        "('b', 'd2', 'b.txt', 2, 'peer'), ('a', 'd2', 'a.txt', 1, 'peer')");
    const auto all = db_get_downloads_from_sender(0, "peer");
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(all[0]["id"].string_value(), "d3");
    EXPECT_TRUE(all[0]["files"].array_items().empty());
    EXPECT_EQ(
        all[1]["files"],
        Json(Json::array{Json::object{{"id", "a"}, {"filename", "a.txt"}, {"filesize", "1"}, {"sender", "peer"}},
                         Json::object{{"id", "b"}, {"filename", "b.txt"}, {"filesize", "2"}, {"sender", "peer"}}}));
    const auto after = db_get_downloads_from_sender(200, "peer");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0]["id"].string_value(), "d3");
    EXPECT_TRUE(db_get_downloads_from_sender(0, "nobody").empty());
}

TEST_F(DownloadsTest, FileToReceiveRecordOrNull) {
    store_two();
    EXPECT_EQ(db_get_file_to_receive("f1"), Json(Json::object{{"id", "f1"},
                                                              {"filename", "a.jpg"},
                                                              {"filesize", "100"},
                                                              {"sender", "peer"},
                                                              {"fileurl", "remote/a.jpg"}}));
    EXPECT_TRUE(db_get_file_to_receive("missing").is_null());
}

}  // namespace
}  // namespace vandrel
