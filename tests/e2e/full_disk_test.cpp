// The receiver's download folder fills up part-way through a file: the file ends with a
// "download_error" that names the full disk (never "download_completed"), the core goes
// on answering, and once space is freed the sender's resend completes the file from
// where it stopped, byte for byte. The folder is a tmpfs of the test's own with room
// for the file beside the 1 GiB a download leaves free, nearly all of it taken by a
// filler once the file has begun.
// The long form is bench/broken_links.sh.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"
#include "tests/e2e/transfer_harness.h"
#include "tests/support/test_mounts.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;

namespace {

// The file (MESK_DISK_FILE_MIB, 6 MiB unless set: bench/broken_links.sh sets more) and
// a disk with room for all of it and the reserve once the filler goes.
std::uint64_t file_mib() {
    const char* text = std::getenv("MESK_DISK_FILE_MIB");
    return text != nullptr && *text != '\0' ? std::max<std::uint64_t>(std::stoull(text), 2) : 6;
}
const std::uint64_t file_size_bytes = file_mib() << 20;
const std::uint64_t disk_size = (1ull << 30) + file_size_bytes + (2ull << 20);

// Takes all but `left` bytes of the free space of the folder's file system.
void fill_leaving(const std::string& path, std::uint64_t left) {
    const auto space = std::filesystem::space(std::filesystem::path(path).parent_path());
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::posix_fallocate(fd, 0, static_cast<off_t>(space.available - left)), 0);
    ::close(fd);
}

class FullDisk : public NetworkFixture<2> {
protected:
    void SetUp() override {
        NetworkFixture::SetUp();
        if (IsSkipped()) return;
        disk_ = std::make_unique<test_mount>(test_mount::tmpfs(downloads_folder(net_->device(1)), disk_size));
        if (!disk_->mount_error().empty()) GTEST_SKIP() << "skipped: no tmpfs: " << disk_->mount_error();
    }
    void TearDown() override {
        // The programs end before their folders go away.
        sessions_.clear();
        disk_.reset();
        net_.reset();
    }

    std::unique_ptr<test_mount> disk_;
    std::vector<std::unique_ptr<MeskSession>> sessions_;
};

TEST_F(FullDisk, AFileThatDoesNotFitFailsClearlyAndCompletesOnceThereIsRoom) {
    const TestDevice& sender = net_->device(0);
    const TestDevice& receiver = net_->device(1);
    const std::string received = downloads_folder(receiver);
    const std::string filler = received + "filler";
    const std::string name = "does not fit.bin";
    const std::string sha = write_random_file(pictures_folder(sender) + name, file_size_bytes, 16);
    sessions_ = start_and_meet(*net_, 2);
    ASSERT_EQ(sessions_.size(), 2u) << "the devices did not meet";
    MeskSession& a = *sessions_[0];
    MeskSession& b = *sessions_[1];

    limit_rate(*net_, sender, "8mbit");
    const auto offered = offer_files(a, b.id(), {pictures_folder(sender) + name});
    ASSERT_TRUE(offered);
    const std::string id = offered->file_ids.at(name);
    // Begun with room to spare, the disk then fills under it.
    ASSERT_FALSE(a.event("update_bytes_transferred", 60s, file_is(id)).is_null()) << "the file never began";
    fill_leaving(filler, file_size_bytes / 4);
    const Json failed = b.event("download_error", 60s, file_is(id));
    ASSERT_FALSE(failed.is_null()) << "the receiver did not report the full disk";
    EXPECT_EQ(failed["error"].string_value(), "No space left on device");
    EXPECT_EQ(failed["chat_id"].string_value(), offered->chat_id);
    EXPECT_EQ(stored_status(receiver, id), "error");
    EXPECT_TRUE(b.events_within("download_completed", 0ms).empty());
    EXPECT_FALSE(std::filesystem::exists(received + name));
    const std::string temporary = partial_file(received, id);
    const std::uint64_t held = file_size(temporary).value_or(0);
    EXPECT_GT(held, 0u);
    EXPECT_LT(held, file_size_bytes);

    // The core goes on: its interface and its peer are answered.
    EXPECT_EQ(b.request("/who_am_i", "{}")["status"].string_value(), "success");
    EXPECT_EQ(a.peers()[b.id()], receiver.address);
    EXPECT_EQ(b.peers()[a.id()], sender.address);

    std::filesystem::remove(filler);
    limit_rate(*net_, sender, "");
    const auto freed_at = std::chrono::steady_clock::now();
    a.events_within("update_bytes_transferred", 1s);
    const Json resent = a.request("/resend", Json(Json::object{{"id", offered->chat_id}}).dump());
    ASSERT_EQ(resent["status"].string_value(), "success") << resent.dump();
    const Json first = a.event("update_bytes_transferred", 60s, file_is(id));
    ASSERT_FALSE(first.is_null()) << "the resend sent nothing";
    const std::uint64_t resumed_at = std::stoull(first["bytes_transferred"].string_value());
    EXPECT_GT(resumed_at, held) << "the resend started before what the receiver held";
    EXPECT_LE(resumed_at, held + 16384) << "the resend skipped bytes";
    const bool completed =
        !b.event("download_completed", 120s + std::chrono::seconds(file_mib()), file_is(id)).is_null();
    std::cout << "disk: " << file_mib() << " MiB file, " << (file_size_bytes / 4 >> 10) << " KiB left: \""
              << failed["error"].string_value() << "\" at " << held << " bytes; "
              << (completed ? "complete " : "incomplete ")
              << std::chrono::duration<double>(std::chrono::steady_clock::now() - freed_at).count()
              << " s after space was freed and the sender resent" << std::endl;
    ASSERT_TRUE(completed);
    EXPECT_EQ(file_sha256(received + name), sha);
    EXPECT_TRUE(temporary_files(received).empty());
    EXPECT_TRUE(wait_for_status(receiver, id, "complete_sent", 30s)) << "the sender was not told";
}

}  // namespace
