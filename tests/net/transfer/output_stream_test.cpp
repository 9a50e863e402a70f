#include "core_lib/net/transfer/output_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

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
    }
    void put(const std::string& name, const std::string& bytes) const {
        std::ofstream(received + name, std::ios::binary) << bytes;
    }
    bool exists(const std::string& name) const { return std::filesystem::exists(received + name); }

    std::shared_ptr<testing::file_platform> files;
    std::string received;
    winrt_file_output output;
};

TEST_F(OutputStream, CreateOpensWhatIsThereAndWritesGoOnAtItsEnd) {
    put("photo.jpg.tmp.jpg", std::string(1000, 'a'));
    ASSERT_TRUE(output.create("photo.jpg.tmp.jpg"));
    EXPECT_EQ(output.size(), 1000u);
    EXPECT_EQ(output.write("bcd", 3), 3u);
    EXPECT_EQ(output.size(), 1003u);
    output.flush();
    EXPECT_EQ(read_all(received + "photo.jpg.tmp.jpg"), std::string(1000, 'a') + "bcd");
    EXPECT_TRUE(output.error.empty());
}

TEST_F(OutputStream, CreateWithoutADownloadFolderSaysSo) {
    files->set_download_folder(false);
    EXPECT_FALSE(output.create("photo.jpg.tmp.jpg"));
    EXPECT_EQ(output.error, "You have not selected a download folder. Restart the app.");
    EXPECT_EQ(output.write("x", 1), 0u);
    EXPECT_FALSE(output.size());
}

TEST_F(OutputStream, AWriteToAFullDiskSaysSoAndKeepsWhatWasWritten) {
    const std::string why = testing::private_mount_namespace();
    if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
    const auto small = testing::test_mount::tmpfs(received, 64u << 10);
    ASSERT_EQ(small.mount_error(), "");
    ASSERT_TRUE(output.create("photo.jpg.tmp.jpg"));
    const std::string bytes(std::size_t{256} << 10, 'x');
    const std::uint32_t written = output.write(bytes.data(), static_cast<std::uint32_t>(bytes.size()));
    EXPECT_LT(written, bytes.size());
    EXPECT_EQ(output.error, "No space left on device");
    // What went to disk is what the count says, so a later attempt resumes right there.
    EXPECT_EQ(output.size(), written);
}

TEST_F(OutputStream, FinishPutsTheFileUnderItsNameInPlaceOfAnyThereAndTellsTheInterface) {
    put("photo.jpg", "old");
    ASSERT_TRUE(output.create("photo.jpg.tmp.jpg"));
    ASSERT_EQ(output.write("new bytes", 9), 9u);
    ASSERT_TRUE(output.finish());
    EXPECT_EQ(read_all(received + "photo.jpg"), "new bytes");
    EXPECT_FALSE(exists("photo.jpg.tmp.jpg"));
    const std::vector<Json> events = store.ui().events();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].dump(),
              R"({"action": "download_completed", "chat_id": "chat-1", "file_id": "file-1", "filepath": "photo.jpg"})");
}

TEST_F(OutputStream, FinishWithNothingOpenedIsTrueAndSaysNothing) {
    EXPECT_TRUE(output.finish());
    EXPECT_TRUE(store.ui().events().empty());
}

TEST_F(OutputStream, FinishFailsWhenTheNameCannotBeTaken) {
    // A folder under the final name cannot be replaced by a file.
    std::filesystem::create_directories(received + "photo.jpg/inside");
    ASSERT_TRUE(output.create("photo.jpg.tmp.jpg"));
    ASSERT_EQ(output.write("abc", 3), 3u);
    EXPECT_FALSE(output.finish());
    EXPECT_EQ(read_all(received + "photo.jpg.tmp.jpg"), "abc") << "the received bytes stay";
    EXPECT_TRUE(store.ui().events().empty());
    EXPECT_TRUE(output.error.empty());
}

TEST_F(OutputStream, RenameToMovesTheFinishedFileAsideOnlyWhenThereIsOne) {
    EXPECT_FALSE(output.rename_to("photo.jpg.mesk_backup_3.jpg"));
    EXPECT_TRUE(output.error.empty());
    put("photo.jpg", "old");
    EXPECT_TRUE(output.rename_to("photo.jpg.mesk_backup_3.jpg"));
    EXPECT_FALSE(exists("photo.jpg"));
    EXPECT_EQ(read_all(received + "photo.jpg.mesk_backup_3.jpg"), "old");
}

TEST_F(OutputStream, DiscardDeletesTheOpenedFile) {
    put("photo.jpg.tmp.jpg", "stale");
    ASSERT_TRUE(output.create("photo.jpg.tmp.jpg"));
    EXPECT_TRUE(output.discard());
    EXPECT_FALSE(exists("photo.jpg.tmp.jpg"));
    EXPECT_TRUE(output.discard()) << "nothing left to delete";
}

TEST_F(OutputStream, ATemporaryFileKnowsWhichTransferItWasBegunFor) {
    ASSERT_TRUE(output.create("photo.jpg.tmp.jpg"));
    EXPECT_FALSE(output.begun_for_other("file-1")) << "an unmarked file is nobody else's";
    output.mark_begun_for("file-1");
    EXPECT_FALSE(output.begun_for_other("file-1"));
    EXPECT_TRUE(output.begun_for_other("file-2"));

    winrt_file_output again;
    ASSERT_TRUE(again.create("photo.jpg.tmp.jpg"));
    EXPECT_TRUE(again.begun_for_other("file-2")) << "the mark stays with the file";
}

}  // namespace
}  // namespace vandrel
