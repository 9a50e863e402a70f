#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core_lib/api/shared_files_handlers.h"
#include "core_lib/api/transfer_creation_handlers.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/shared_pending.h"
#include "tests/api/api_fixture.h"

namespace vandrel::api_test {
namespace {

const std::string not_same_wifi =
    R"({"error_message": "_both_devices_are_not_connected_to_the_same_wifi", "status": "error"})";
const std::string success = R"({"status": "success"})";

using rows_t = std::vector<std::vector<std::string>>;

TEST(TransferRecipes, FileIdOfOneKnownEntry) {
    const Json entry = Json::object{{"filename", "a.txt"}, {"filesize", "10"}, {"fileurl", "tok|rel|a.txt"}};
    EXPECT_EQ(make_file_id("chat-1", entry, "peer-b"),
              "c95c36d2536e86f1709952e0d12e816d8c81b975c7bef41c7bd91952726e17a4");
}

TEST(TransferRecipes, UploadIdOfOneKnownBatch) {
    const std::int64_t fifth_hour = 5 * 3600000LL + 1234;
    EXPECT_EQ(pending_upload_id(fifth_hour, {"/x/a.txt", "/x/b.txt"}, "peer-b"),
              "ce1f0e9b088ca533164dd202b6113ce81aedfc9e9190e02499fbb4025e482b82");
    EXPECT_EQ(pending_upload_id(fifth_hour + 3600000LL - 1235, {"/x/a.txt", "/x/b.txt"}, "peer-b"),
              pending_upload_id(fifth_hour, {"/x/a.txt", "/x/b.txt"}, "peer-b"));
    EXPECT_NE(pending_upload_id(fifth_hour + 3600000LL, {"/x/a.txt", "/x/b.txt"}, "peer-b"),
              pending_upload_id(fifth_hour, {"/x/a.txt", "/x/b.txt"}, "peer-b"));
}

class TransfersTest : public ApiTest {
protected:
    // An upload of two files from this device to peer-a, as the interface makes it.
    std::vector<std::string> make_upload(const std::string& upload_id = "u1") {
        const Json request = Json::object{{"id", upload_id},
                                          {"sender", own_id},
                                          {"receiver", "peer-a"},
                                          {"files", Json::array{Json::object{{"filename", "a.txt"},
                                                                             {"filesize", "10"},
                                                                             {"fileurl", "t|r|a.txt"},
                                                                             {"isDirectory", "0"},
                                                                             {"id", "dropped"},
                                                                             {"path", "dropped"}},
                                                                Json::object{{"filename", "b.txt"},
                                                                             {"filesize", "20"},
                                                                             {"fileurl", "t|r|b.txt"},
                                                                             {"isDirectory", "0"}}}}};
        EXPECT_EQ(call("/create_upload", request)["status"].string_value(), "success");
        settle();
        std::vector<std::string> ids;
        for (const Json& entry : request["files"].array_items())
            ids.push_back(make_file_id(upload_id, entry, "peer-a"));
        return ids;
    }

    // A download of three files from peer-a: f1 complete, f2 half received, f3 waiting.
    void make_download() {
        Json::array files;
        for (const char* id : {"f1", "f2", "f3"}) {
            files.push_back(Json::object{{"id", id},
                                         {"filename", std::string(id) + ".bin"},
                                         {"filesize", "10"},
                                         {"fileurl", "src"},
                                         {"isDirectory", "0"}});
        }
        const Json request = Json::object{{"id", "d1"}, {"sender", "peer-a"}, {"receiver", own_id}, {"files", files}};
        EXPECT_EQ(call("/create_download", request)["status"].string_value(), "success");
        settle();
        db_set_file_received_status("f1", "d1", "complete");
        db_set_file_to_receive_progress(10, "f1");
        db_set_file_to_receive_progress(5, "f2");
    }
    rows_t receive_rows() {
        return store.rows("select id, status, bytes_transferred from files_to_receive order by id");
    }
    rows_t send_rows() {
        return store.rows("select filename, status, sent, bytes_transferred from files_to_send order by filename");
    }
    bool downloads_pending_now() { return get_downloads_pending(); }
};

TEST_F(TransfersTest, CreateUploadGivesEachFileItsIdAndDropsOtherKeys) {
    const std::vector<std::string> ids = make_upload();
    EXPECT_EQ(store.rows("select id, filename from files_to_send order by filename"),
              (rows_t{{ids[0], "a.txt"}, {ids[1], "b.txt"}}));
    const Json chat = call("/chat_info", Json::object{{"id", "u1"}});
    EXPECT_EQ(chat["type"].string_value(), "upload");
    EXPECT_EQ(chat["files"][0]["id"].string_value(), ids[0]);
    EXPECT_EQ(chat["files"][0]["path"], Json());
    // Same body again: the same ids; another receiver: others.
    EXPECT_EQ(
        make_file_id("u1", Json::object{{"filename", "a.txt"}, {"filesize", "10"}, {"fileurl", "t|r|a.txt"}}, "peer-a"),
        ids[0]);
}

TEST_F(TransfersTest, StopRequeueAndResumeOfADownload) {
    make_download();
    set_peer_ip("peer-a", peer_address);

    EXPECT_EQ(call_text("/stop_download", Json::object{{"id", "d1"}}), success);
    EXPECT_TRUE(stopped_download_id().contains("d1"));
    // The complete file is never marked stopped.
    EXPECT_EQ(receive_rows(), (rows_t{{"f1", "complete", "10"}, {"f2", "stopped", "5"}, {"f3", "stopped", "0"}}));

    // One file fetched again resumes where it was and clears the stop.
    set_downloads_pending(false);
    EXPECT_EQ(call_text("/download_file", Json::object{{"file_id", "f2"}, {"download_id", "d1"}}), success);
    settle();
    EXPECT_FALSE(stopped_download_id().contains("d1"));
    EXPECT_EQ(receive_rows(), (rows_t{{"f1", "complete", "10"}, {"f2", "queued", "5"}, {"f3", "stopped", "0"}}));
    EXPECT_TRUE(downloads_pending_now());

    // A complete file is not fetched again.
    EXPECT_EQ(call_text("/download_file", Json::object{{"file_id", "f1"}, {"download_id", "d1"}}), success);
    settle();
    EXPECT_EQ(receive_rows()[0], (std::vector<std::string>{"f1", "complete", "10"}));

    // The whole download again: unfinished files from their first byte.
    call("/stop_download", Json::object{{"id", "d1"}});
    set_downloads_pending(false);
    EXPECT_EQ(call_text("/download_files", Json::object{{"download_id", "d1"}}), success);
    EXPECT_FALSE(stopped_download_id().contains("d1"));
    EXPECT_EQ(receive_rows(), (rows_t{{"f1", "complete", "10"}, {"f2", "queued", "0"}, {"f3", "queued", "0"}}));
    EXPECT_TRUE(downloads_pending_now()) << "the download thread takes them up now";
}

TEST_F(TransfersTest, DownloadFileNeedsThePeersAddressFoundThroughTheFileRow) {
    make_download();
    call("/stop_download", Json::object{{"id", "d1"}});
    EXPECT_EQ(call_text("/download_file", Json::object{{"file_id", "f2"}, {"download_id", "d1"}}), not_same_wifi);
    settle();
    EXPECT_EQ(receive_rows()[1][1], "stopped");
    EXPECT_TRUE(stopped_download_id().contains("d1"));

    // The conversation erased: the file row still names the peer.
    call("/erase_chats_for_peer", Json::object{{"peer", "peer-a"}});
    set_peer_ip("peer-a", peer_address);
    EXPECT_EQ(call_text("/download_file", Json::object{{"file_id", "f2"}, {"download_id", "d1"}}), success);
    settle();
    EXPECT_EQ(receive_rows()[1][1], "queued");
}

TEST_F(TransfersTest, PauseAndResumeOfAWholeUpload) {
    make_upload();
    drain_resend_wakeups();
    set_peer_ip("peer-a", peer_address);

    EXPECT_EQ(call_text("/pause_upload", Json::object{{"id", "u1"}}), success);
    EXPECT_TRUE(stopped_upload_id().contains("u1"));
    EXPECT_EQ(send_rows(), (rows_t{{"a.txt", "paused", "", "0"}, {"b.txt", "paused", "", "0"}}));
    EXPECT_EQ(store.text("select status from chats where id = 'u1'"), "paused");

    // "id" is not what resume reads.
    EXPECT_EQ(call_text("/resume_upload", Json::object{{"id", "u1"}}), success);
    EXPECT_TRUE(stopped_upload_id().contains("u1"));
    EXPECT_EQ(send_rows()[0][1], "paused");

    store.exec("update files_to_send set sent = '1', bytes_transferred = 4");
    EXPECT_EQ(call_text("/resume_upload", Json::object{{"chat_id", "u1"}}), success);
    EXPECT_FALSE(stopped_upload_id().contains("u1"));
    EXPECT_EQ(send_rows(), (rows_t{{"a.txt", "", "0", "0"}, {"b.txt", "", "0", "0"}}));
    EXPECT_EQ(store.text("select sent from chats where id = 'u1'"), "0");
    EXPECT_EQ(drain_resend_wakeups(), 2u);
}

TEST_F(TransfersTest, PauseAndResumeOfOneFile) {
    const std::vector<std::string> ids = make_upload();
    EXPECT_EQ(call_text("/pause_file_upload", Json::object{{"id", ids[0]}, {"chat_id", "u1"}}), success);
    EXPECT_TRUE(paused_file_id().contains(ids[0]));
    EXPECT_EQ(send_rows(), (rows_t{{"a.txt", "paused", "", "0"}, {"b.txt", "", "", "0"}}));

    call("/pause_file_upload", Json::object{{"id", ids[1]}, {"chat_id", "u1"}});
    EXPECT_EQ(call_text("/resume_file_upload", Json::object{{"id", ids[0]}, {"chat_id", "u1"}}), success);
    EXPECT_EQ(store.platform().toasts().back(), std::make_pair(std::string("resume_file_upload"), ids[0]));
    // Resuming goes through a resend: every file of the upload is running again.
    EXPECT_TRUE(paused_file_id().ids().empty());
    EXPECT_EQ(send_rows(), (rows_t{{"a.txt", "", "0", "0"}, {"b.txt", "", "0", "0"}}));
}

TEST_F(TransfersTest, AStoppedUploadStaysStoppedUntilItIsSentAgain) {
    make_upload();
    drain_resend_wakeups();
    call("/stop_upload", Json::object{{"id", "u1"}});
    call("/stop_upload", Json::object{{"id", "u2"}});
    EXPECT_EQ(stopped_upload_id().ids(), (std::vector<std::string>{"u1", "u2"}));
    EXPECT_EQ(send_rows()[0][1], "") << "the files and the chat read as before";
    EXPECT_EQ(store.text("select status from chats where id = 'u1'"), "");
    EXPECT_EQ(store.text("select status from uploads where id = 'u1'"), "stopped") << "kept across a restart";

    // No known address: the resend is reported, but done, and the loop woken.
    store.exec("update files_to_send set sent = '1'");
    EXPECT_EQ(call_text("/resend", Json::object{{"id", "u1"}}), not_same_wifi);
    EXPECT_EQ(stopped_upload_id().ids(), std::vector<std::string>{"u2"});
    EXPECT_EQ(store.text("select status from uploads where id = 'u1'"), "");
    EXPECT_EQ(send_rows()[0][2], "0");
    EXPECT_EQ(drain_resend_wakeups(), 1u);

    // The receiver is found through the upload's files, also with its chat erased.
    call("/erase_chats_for_peer", Json::object{{"peer", "peer-a"}});
    set_peer_ip("peer-a", peer_address);
    EXPECT_EQ(call_text("/resend", Json::object{{"id", "u1"}}), success);
    EXPECT_EQ(drain_resend_wakeups(), 1u);
}

TEST_F(TransfersTest, CompletedDownloadsAreReportedOncePerChat) {
    // The receiver of the files is proven where the notice comes from.
    set_peer_ip("peer-a", peer_address);
    const std::vector<std::string> first = make_upload("u1");
    const std::vector<std::string> second = make_upload("u2");
    store.ui().clear();
    const Json files = Json::array{Json::object{{"id", first[0]}, {"chat_id", "u1"}},
                                   Json::object{{"id", first[1]}, {"chat_id", "u1"}},
                                   Json::object{{"id", second[0]}, {"chat_id", "u2"}}};
    EXPECT_EQ(call_text("/completed_downloads", Json::object{{"files", files}}, peer_address), success);
    settle();
    std::vector<std::string> chats;
    for (const Json& event : events_of("download_completed")) chats.push_back(event["chat_id"].string_value());
    std::sort(chats.begin(), chats.end());
    EXPECT_EQ(chats, (std::vector<std::string>{"u1", "u2"}));
    EXPECT_EQ(store.text("select bytes_transferred from files_to_send where id = '" + first[1] + "'"), "20");
    EXPECT_EQ(store.text("select bytes_transferred from files_to_send where id = '" + second[1] + "'"), "0");

    store.ui().clear();
    EXPECT_EQ(call_text("/completed_downloads", Json::object{}, peer_address), success);
    settle();
    EXPECT_TRUE(events_of("download_completed").empty());
}

TEST_F(TransfersTest, BytesTransferredIsStoredAndRepostedAsProgress) {
    const std::vector<std::string> ids = make_upload();
    store.exec("update files_to_send set bytes_transferred = 20 where id = '" + ids[1] + "'");
    store.ui().clear();
    EXPECT_EQ(call_text("/bytes_transferred",
                        Json::object{{"file_id", ids[0]}, {"chat_id", "u1"}, {"bytes_transferred", "0007"}}),
              success);
    EXPECT_EQ(store.text("select bytes_transferred from files_to_send where id = '" + ids[0] + "'"), "7");
    const std::vector<Json> progress = events_of("update_bytes_transferred");
    ASSERT_EQ(progress.size(), 1u);
    EXPECT_EQ(progress[0], Json(Json::object{{"action", "update_bytes_transferred"},
                                             {"file_id", ids[0]},
                                             {"chat_id", "u1"},
                                             {"bytes_transferred", "7"},
                                             {"total_bytes", "10"},
                                             {"device", "peer-a"},
                                             {"filepath", "t|r|a.txt"},
                                             {"other_files", Json::object{{"number_of_files", "2"},
                                                                          {"size_of_files", "30"},
                                                                          {"bytes_transferred", "20"}}}}));

    store.ui().clear();
    call("/bytes_transferred", Json::object{{"file_id", "unknown"}, {"bytes_transferred", "lots"}});
    const Json unknown = events_of("update_bytes_transferred").at(0);
    EXPECT_EQ(unknown["bytes_transferred"].string_value(), "0");
    EXPECT_EQ(unknown["total_bytes"].string_value(), "0");
    EXPECT_EQ(unknown["device"].string_value(), "");
}

TEST_F(TransfersTest, PendingFilesWaitUntilAPeerIsSelected) {
    store.platform().set_file_size("/x/a.txt", 42);
    call("/pending_files_updated", Json::object{{"files", Json::array{"/x/a.txt", "/x/b.txt"}}});
    call("/pending_folders_updated", Json::object{{"folders", Json::array{"/x/folder"}}});

    EXPECT_EQ(call_text("/upload_pending_files", Json::object{}), success);
    settle();
    EXPECT_EQ(db_get_pending_files().size(), 3u) << "nothing is consumed without a peer";

    const std::int64_t before = now_ms();
    EXPECT_EQ(call_text("/upload_pending_files", Json::object{{"selected_peers", Json::array{"peer-a", "peer-b"}}}),
              success);
    settle();
    const std::int64_t after = now_ms();
    EXPECT_TRUE(db_get_pending_files().empty());

    const rows_t uploads = store.rows("select id, receiver from uploads order by receiver");
    ASSERT_EQ(uploads.size(), 2u);
    for (const auto& upload : uploads) {
        const std::vector<std::string> paths = {"/x/a.txt", "/x/b.txt"};
        EXPECT_TRUE(upload[0] == pending_upload_id(before, paths, upload[1]) ||
                    upload[0] == pending_upload_id(after, paths, upload[1]));
        EXPECT_EQ(store.rows("select filename, filesize, fileurl from files_to_send where upload_id = '" + upload[0] +
                             "' order by filename"),
                  (rows_t{{"a.txt", "42", "/x/a.txt"}, {"b.txt", "0", "/x/b.txt"}}));
    }
}

}  // namespace
}  // namespace vandrel::api_test
