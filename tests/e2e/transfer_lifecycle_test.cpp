// A download's life between real devices: a file that would leave the receiver's disk
// too little room is not started and is fetched once there is room; a stop given while
// nothing of the download runs ends no later fetch; a stopped upload stays stopped
// across the sender's restart; and a sender whose link drips holds up no other sender,
// and is given up once it delivers too little.
#include <gtest/gtest.h>

#include <regex>
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

constexpr std::uint64_t gib = 1ull << 30;
constexpr std::uint64_t mib = 1ull << 20;

Json with_id(const std::string& key, const std::string& id) { return Json::object{{key, id}}; }

// The events of that action for the file that came so far.
std::vector<Json> file_events(MeskSession& session, const std::string& action, const std::string& file_id) {
    std::vector<Json> found;
    for (const Json& e : session.events_within(action, 0ms)) {
        if (e["file_id"].string_value() == file_id) found.push_back(e);
    }
    return found;
}

class TransferLifecycle : public NetworkFixture<2> {
protected:
    void TearDown() override {
        // The programs end before their folders go away.
        sessions_.clear();
        disk_.reset();
        net_.reset();
    }

    const TestDevice& a() const { return net_->device(0); }
    const TestDevice& b() const { return net_->device(1); }
    MeskSession& mesk_a() { return *sessions_[0]; }
    MeskSession& mesk_b() { return *sessions_[1]; }

    void meet() {
        sessions_ = start_and_meet(*net_, 2);
        ASSERT_EQ(sessions_.size(), 2u) << "the devices did not meet";
    }

    // A file of random bytes in A's pictures offered to B, and B told of it.
    offer offer_to_b(const std::string& name, std::uint64_t size) {
        const std::string path = pictures_folder(a()) + name;
        sha_[name] = write_random_file(path, size, sha_.size() + 40);
        auto made = offer_files(mesk_a(), mesk_b().id(), {path});
        EXPECT_TRUE(made);
        if (!made) return {};
        EXPECT_FALSE(
            mesk_b()
                .event("new_chat", 30s, [&](const Json& e) { return e["info"]["id"].string_value() == made->chat_id; })
                .is_null());
        return *made;
    }

    bool completes_on_b(const std::string& name, const std::string& id, std::chrono::milliseconds limit = 60s) {
        if (mesk_b().event("download_completed", limit, file_is(id)).is_null()) return false;
        return file_sha256(downloads_folder(b()) + name) == sha_[name];
    }

    std::unique_ptr<test_mount> disk_;
    std::vector<std::unique_ptr<MeskSession>> sessions_;
    std::map<std::string, std::string> sha_;
};

TEST_F(TransferLifecycle, AFileThatWouldFillTheDiskWaitsUntilThereIsRoom) {
    disk_ = std::make_unique<test_mount>(test_mount::tmpfs(downloads_folder(b()), gib + 4 * mib));
    if (!disk_->mount_error().empty()) GTEST_SKIP() << "skipped: no tmpfs: " << disk_->mount_error();
    meet();
    const offer offered = offer_to_b("large.bin", 8 * mib);
    const std::string id = offered.file_ids.at("large.bin");

    const Json refused = mesk_b().event("download_error", 60s, file_is(id));
    ASSERT_FALSE(refused.is_null()) << "the receiver started a file that leaves its disk too little";
    EXPECT_TRUE(std::regex_match(refused["error"].string_value(),
                                 std::regex("not enough space: [0-9]+ bytes needed, [0-9]+ free")))
        << refused.dump();
    EXPECT_EQ(stored_status(b(), id), "error");
    EXPECT_TRUE(mesk_a().events_within("download_completed", 3s).empty()) << "the sender was told it arrived";
    EXPECT_TRUE(file_events(mesk_a(), "update_bytes_transferred", id).empty()) << "the file was fetched";

    // Room made: the user fetches it, and the sender is told.
    ASSERT_EQ(disk_->resize(gib + 64 * mib), "");
    EXPECT_EQ(mesk_b()
                  .request("/download_file",
                           Json(Json::object{{"file_id", id}, {"download_id", offered.chat_id}}).dump())["status"]
                  .string_value(),
              "success");
    EXPECT_TRUE(completes_on_b("large.bin", id));
    EXPECT_TRUE(wait_for_status(b(), id, "complete_sent", 60s)) << "the sender was not told";
}

TEST_F(TransferLifecycle, AStopGivenWhileTheSenderPausedEndsNoLaterFetch) {
    meet();
    limit_rate(*net_, a(), "40mbit");
    const offer offered = offer_to_b("paused.bin", 30 * mib);
    const std::string id = offered.file_ids.at("paused.bin");
    ASSERT_FALSE(mesk_b().event("update_bytes_transferred", 60s, file_is(id)).is_null());

    // The sender pauses: nothing of the download runs when the receiver stops it.
    mesk_a().request("/pause_upload", with_id("id", offered.chat_id).dump());
    ASSERT_FALSE(mesk_b().event("download_error", 30s, file_is(id)).is_null());
    EXPECT_EQ(mesk_b().request("/stop_download", with_id("id", offered.chat_id).dump())["status"].string_value(),
              "success");
    ASSERT_TRUE(wait_for_status(b(), id, "stopped", 10s));

    // The sender resumes and offers it again: it is fetched whole, not cut by the old stop.
    limit_rate(*net_, a(), "");
    mesk_a().request("/resume_upload", with_id("chat_id", offered.chat_id).dump());
    EXPECT_TRUE(completes_on_b("paused.bin", id, 120s));
    for (const Json& e : file_events(mesk_b(), "download_error", id))
        EXPECT_NE(e["error"].string_value(), "stopped_by_user");
}

TEST_F(TransferLifecycle, AStoppedUploadStaysStoppedAcrossTheSendersRestart) {
    meet();
    limit_rate(*net_, a(), "40mbit");
    const offer offered = offer_to_b("stopped.bin", 30 * mib);
    const std::string id = offered.file_ids.at("stopped.bin");
    ASSERT_FALSE(mesk_b().event("update_bytes_transferred", 60s, file_is(id)).is_null());
    mesk_a().request("/stop_upload", with_id("id", offered.chat_id).dump());
    ASSERT_FALSE(mesk_b().event("download_error", 30s, file_is(id)).is_null());
    limit_rate(*net_, a(), "");

    ASSERT_TRUE(mesk_a().quit());
    sessions_[0] = start_mesk_session(*net_, a());
    ASSERT_TRUE(sessions_[0]);
    ASSERT_TRUE(mesk_b().lists({{mesk_a().id(), a().address}}, std::chrono::steady_clock::now() + 60s));
    ASSERT_TRUE(mesk_a().lists({{mesk_b().id(), b().address}}, std::chrono::steady_clock::now() + 60s));
    const Json fetch = Json::object{{"file_id", id}, {"download_id", offered.chat_id}};
    mesk_b().request("/download_file", fetch.dump());
    const Json refused = mesk_b().event("download_error", 60s, file_is(id));
    ASSERT_FALSE(refused.is_null());
    EXPECT_EQ(refused["error"].string_value(), "remote_file_paused") << "the restarted sender served it";

    mesk_a().request("/resume_upload", with_id("chat_id", offered.chat_id).dump());
    EXPECT_TRUE(completes_on_b("stopped.bin", id, 120s));
}

// A (device 0) sends over a link that drips; C (device 2) over a fast one; both to B.
class SideBySide : public NetworkFixture<3> {
protected:
    void TearDown() override {
        sessions_.clear();
        net_.reset();
    }
    std::vector<std::unique_ptr<MeskSession>> sessions_;
};

TEST_F(SideBySide, ASenderThatDripsHoldsUpNoOtherAndIsGivenUp) {
    const TestDevice& a = net_->device(0);
    const TestDevice& b = net_->device(1);
    const TestDevice& c = net_->device(2);
    const std::string slow_sha = write_random_file(pictures_folder(a) + "slow.bin", 4 * mib, 51);
    const std::string fast_sha = write_random_file(pictures_folder(c) + "fast.bin", mib, 52);
    sessions_ = start_and_meet(*net_, 3);
    ASSERT_EQ(sessions_.size(), 3u) << "the devices did not meet";
    MeskSession& mesk_a = *sessions_[0];
    MeskSession& mesk_b = *sessions_[1];
    MeskSession& mesk_c = *sessions_[2];

    // About 2 KB a second out of A, with hardly any burst.
    net_->run(a, {"/usr/bin/env", "tc", "qdisc", "replace", "dev", "eth0", "root", "tbf", "rate", "16kbit", "burst",
                  "4kb", "latency", "400ms"});
    const auto slow = offer_files(mesk_a, mesk_b.id(), {pictures_folder(a) + "slow.bin"});
    ASSERT_TRUE(slow);
    const std::string slow_id = slow->file_ids.at("slow.bin");
    ASSERT_FALSE(mesk_b.event("update_bytes_transferred", 90s, file_is(slow_id)).is_null()) << "A's file never began";

    const auto fast = offer_files(mesk_c, mesk_b.id(), {pictures_folder(c) + "fast.bin"});
    ASSERT_TRUE(fast);
    const std::string fast_id = fast->file_ids.at("fast.bin");
    ASSERT_FALSE(mesk_b.event("download_completed", 60s, file_is(fast_id)).is_null()) << "C's file waited for A's";
    EXPECT_EQ(file_sha256(downloads_folder(b) + "fast.bin"), fast_sha);
    EXPECT_TRUE(file_events(mesk_b, "download_error", slow_id).empty()) << "A's file ended first";
    EXPECT_EQ(stored_status(b, slow_id), "queued") << "A's file is still moving";

    // Delivering less than the least rate, A's file is given up as a stalled one is.
    const Json given_up = mesk_b.event("download_error", 120s, file_is(slow_id));
    ASSERT_FALSE(given_up.is_null()) << "a dripping sender held its slot";
    EXPECT_EQ(given_up["error"].string_value(), "timed out");

    limit_rate(*net_, a, "");
    mesk_b.request("/download_file", Json(Json::object{{"file_id", slow_id}, {"download_id", slow->chat_id}}).dump());
    ASSERT_FALSE(mesk_b.event("download_completed", 120s, file_is(slow_id)).is_null());
    EXPECT_EQ(file_sha256(downloads_folder(b) + "slow.bin"), slow_sha);
}

}  // namespace
