#include "core_lib/net/transfer/output_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core_lib/foundation/file_names.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/downloads.h"
#include "tests/support/file_platform.h"
#include "tests/support/temp_store.h"
#include "tests/support/test_mounts.h"

namespace vandrel {
namespace {

std::string read_all(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class OutputStream : public testing::StoreTest {
protected:
    void SetUp() override {
        files = testing::install_file_platform(store.root() + "/files");
        received = files->received_folder();
        output.file_id = "file-1";
        output.chat_id = "chat-1";
        output.filepath = "photo.jpg";
        output.total_bytes = 9;
    }
    void put(const std::string& name, const std::string& bytes) const {
        std::filesystem::create_directories(std::filesystem::path(received + name).parent_path());
        std::ofstream(received + name, std::ios::binary) << bytes;
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(received + name); }
    static std::string partial(const std::string& id) { return std::string(".mesk_partial/") + partial_file_name(id); }
    // A download row for each id, as an offer stores them.
    static void offer(const std::vector<std::string>& ids, const std::string& name) {
        std::vector<Json> entries;
        for (const std::string& id : ids)
            entries.push_back(Json::object{
                {"id", id}, {"filename", name}, {"filesize", "9"}, {"fileurl", download_target_for_file(name)}});
        ASSERT_TRUE(db_store_download(entries, "", "chat-1", "peer-a", "me"));
    }
    std::string fileurl(const std::string& id) {
        return store.text("select fileurl from files_to_receive where id = '" + id + "'");
    }

    std::shared_ptr<testing::file_platform> files;
    std::string received;
    winrt_file_output output;
};

TEST_F(OutputStream, CreateOpensWhatWasBegunForThisFileIdAndWritesGoOnAtItsEnd) {
    put(partial("file-1"), std::string(1000, 'a'));
    ASSERT_TRUE(output.create());
    EXPECT_EQ(output.size(), 1000u);
    EXPECT_EQ(output.write("bcd", 3), 3u);
    EXPECT_EQ(output.size(), 1003u);
    output.flush();
    EXPECT_EQ(read_all(received + partial("file-1")), std::string(1000, 'a') + "bcd");
    EXPECT_EQ(partial_file_path("photo.jpg", "file-1"), received + partial("file-1"));
    EXPECT_TRUE(output.error.empty());
}

TEST_F(OutputStream, NoOtherFileIsTakenForThePartialFile) {
    // What was begun for another id, and received files whose names look like partial
    // files (the names earlier versions wrote while a file arrived).
    put(partial("file-2"), "another transfer");
    put("photo.jpg.tmp.jpg", "a file that arrived under this name");
    put(".mesk_partial/photo.jpg", "x");
    ASSERT_TRUE(output.create());
    EXPECT_EQ(output.size(), 0u);
    ASSERT_EQ(output.write("new bytes", 9), 9u);
    ASSERT_TRUE(output.finish());
    EXPECT_EQ(read_all(received + "photo.jpg"), "new bytes");
    EXPECT_EQ(read_all(received + partial("file-2")), "another transfer");
    EXPECT_EQ(read_all(received + "photo.jpg.tmp.jpg"), "a file that arrived under this name");
}

TEST_F(OutputStream, CreateWithoutADownloadFolderSaysSo) {
    files->set_download_folder(false);
    EXPECT_FALSE(output.create());
    EXPECT_EQ(output.error, "You have not selected a download folder. Restart the app.");
    EXPECT_EQ(output.write("x", 1), 0u);
    EXPECT_FALSE(output.size());
}

TEST_F(OutputStream, AWriteToAFullDiskSaysSoAndKeepsWhatWasWritten) {
    const std::string why = testing::private_mount_namespace();
    if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
    const auto small = testing::test_mount::tmpfs(received, 64u << 10);
    ASSERT_EQ(small.mount_error(), "");
    ASSERT_TRUE(output.create());
    const std::string bytes(std::size_t{256} << 10, 'x');
    const std::uint32_t written = output.write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    EXPECT_LT(written, bytes.size());
    EXPECT_EQ(output.error, "No space left on device");
    // What went to disk is what the count says, so a later attempt resumes right there.
    EXPECT_EQ(output.size(), written);
}

TEST_F(OutputStream, FinishPutsTheFileUnderItsNameRecordsItAndTellsTheInterface) {
    offer({"file-1"}, "photo.jpg");
    ASSERT_TRUE(output.create());
    ASSERT_EQ(output.write("new bytes", 9), 9u);
    ASSERT_TRUE(output.finish());
    EXPECT_EQ(read_all(received + "photo.jpg"), "new bytes");
    EXPECT_FALSE(exists(partial("file-1")));
    EXPECT_EQ(fileurl("file-1"), "received||photo.jpg");
    const std::vector<Json> events = store.ui().events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].dump(),
              R"({"action": "download_completed", "chat_id": "chat-1", "file_id": "file-1", "filepath": "photo.jpg"})");
}

TEST_F(OutputStream, AFileInTheWayOrOneAnotherDownloadPointsToKeepsItsName) {
    offer({"file-1", "file-2", "file-3"}, "photo.jpg");
    // file-2 arrived as photo.jpg, and the user removed it since; a file of the user's
    // own stands under the first backup name.
    db_set_file_received_status("file-2", "chat-1", "complete");
    put("photo.jpg.mesk_backup_9.jpg", "the user's");
    ASSERT_TRUE(output.create());
    ASSERT_EQ(output.write("new bytes", 9), 9u);
    ASSERT_TRUE(output.finish());
    EXPECT_FALSE(exists("photo.jpg")) << "file-2's chat would open the newcomer";
    EXPECT_EQ(read_all(received + "photo.jpg.mesk_backup_9.jpg"), "the user's");
    EXPECT_EQ(read_all(received + "photo.jpg.mesk_backup_9_1.jpg"), "new bytes");
    EXPECT_EQ(fileurl("file-1"), "received||photo.jpg.mesk_backup_9_1.jpg");
    EXPECT_EQ(fileurl("file-2"), "received||photo.jpg");

    // The next one of that name, with a file in the way and the names above taken.
    put("photo.jpg", "in the way");
    winrt_file_output next;
    next.file_id = "file-3";
    next.filepath = "photo.jpg";
    next.total_bytes = 4;
    ASSERT_TRUE(next.create());
    ASSERT_EQ(next.write("next", 4), 4u);
    ASSERT_TRUE(next.finish());
    EXPECT_EQ(read_all(received + "photo.jpg"), "in the way");
    EXPECT_EQ(read_all(received + "photo.jpg.mesk_backup_4.jpg"), "next");
    EXPECT_EQ(fileurl("file-3"), "received||photo.jpg.mesk_backup_4.jpg");
}

TEST_F(OutputStream, FinishKeepsTheReceivedFolders) {
    for (const std::string name : {"trip/one/README.txt", "trip/two/README.txt"}) {
        winrt_file_output each;
        each.file_id = name;
        each.filepath = name;
        each.total_bytes = name.size();
        ASSERT_TRUE(each.create());
        ASSERT_EQ(each.write(name.data(), static_cast<std::uint32_t>(name.size())), name.size());
        ASSERT_TRUE(each.finish()) << name;
        EXPECT_EQ(read_all(received + name), name);
    }
}

TEST_F(OutputStream, FinishWithNothingOpenedIsTrueAndSaysNothing) {
    EXPECT_TRUE(output.finish());
    EXPECT_TRUE(store.ui().events().empty());
}

TEST_F(OutputStream, FinishFailsWhenAFolderOfTheNameIsAFile) {
    put("trip", "a file where a folder should be");
    output.filepath = "trip/photo.jpg";
    ASSERT_TRUE(output.create());
    ASSERT_EQ(output.write("abc", 3), 3u);
    EXPECT_FALSE(output.finish());
    EXPECT_EQ(read_all(received + partial("file-1")), "abc") << "the received bytes stay";
    EXPECT_EQ(read_all(received + "trip"), "a file where a folder should be");
    EXPECT_TRUE(store.ui().events().empty());
    EXPECT_TRUE(output.error.empty());
}

TEST_F(OutputStream, DiscardDeletesTheOpenedFile) {
    put(partial("file-1"), "stale");
    ASSERT_TRUE(output.create());
    EXPECT_TRUE(output.discard());
    EXPECT_FALSE(exists(partial("file-1")));
    EXPECT_TRUE(output.discard()) << "nothing left to delete";
}

}  // namespace
}  // namespace vandrel
