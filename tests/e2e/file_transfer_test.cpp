// Files offered in a chat reach the peer whole over the real network: names made safe,
// a file in the way kept where it is, progress on both sides, nothing temporary left.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <map>
#include <string>
#include <thread>
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

// Every event with that action that `wanted` accepts among those already read and
// those that come within the period.
std::vector<Json> all_events(MeskSession& session, const std::string& action,
                             const std::function<bool(const Json&)>& wanted, std::chrono::milliseconds period = 0ms) {
    std::vector<Json> found;
    const auto deadline = clock_type::now() + period;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now());
        Json e = session.event(action, std::max(left, 0ms), wanted);
        if (e.is_null()) return found;
        found.push_back(std::move(e));
    }
}

using FileTransfer = NetworkFixture<2>;

TEST_F(FileTransfer, AChatWithFilesArrivesWholeUnderSafeNamesWithProgressOnBothSides) {
    const auto& a = net_->device(0);
    const auto& b = net_->device(1);
    // B already holds a file of one of the names.
    const std::string in_the_way = write_random_file(downloads_folder(b) + "exists.bin", 777, 99);

    struct sent_file {
        std::string name;      // on A
        std::string received;  // on B, as told
        std::uint64_t size;
        std::string sha256;
        std::string kept_as;  // on B's disk, when not under `received`
    };
    std::vector<sent_file> sent = {
        {"empty file.txt", "empty file.txt", 0, "", ""},
        {"one byte.bin", "one byte.bin", 1, "", ""},
        {"Grüße 日本 – 16384.bin", "Grüße 日本 – 16384.bin", 16384, "", ""},
        {"a:b.bin", "ab.bin", 16385, "", ""},
        {"exists.bin", "exists.bin", 1000, "", "exists.bin.mesk_backup_1000.bin"},
        {"big 50 MiB.bin", "big 50 MiB.bin", 50ull << 20, "", ""},
    };
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < sent.size(); ++i) {
        paths.push_back(pictures_folder(a) + sent[i].name);
        sent[i].sha256 = write_random_file(paths.back(), sent[i].size, i + 1);
    }

    auto mesk_a = start_mesk_session(*net_, a);
    auto mesk_b = start_mesk_session(*net_, b);
    ASSERT_TRUE(mesk_a && mesk_b);
    const std::string a_id = mesk_a->id();
    const std::string b_id = mesk_b->id();
    ASSERT_TRUE(mesk_a->lists({{b_id, b.address}}, clock_type::now() + 20s)) << "A never met B";
    ASSERT_TRUE(mesk_b->lists({{a_id, a.address}}, clock_type::now() + 20s)) << "B never met A";

    const auto started = clock_type::now();
    const auto offered = offer_files(*mesk_a, b_id, paths);
    ASSERT_TRUE(offered) << "A made no upload of the picked files";
    ASSERT_EQ(offered->file_ids.size(), sent.size());

    const Json told = mesk_b->event("new_chat", 30s,
                                    [&](const Json& e) { return e["info"]["id"].string_value() == offered->chat_id; });
    ASSERT_FALSE(told.is_null()) << "B was not told of the chat";
    EXPECT_EQ(told["info"]["type"].string_value(), "download");
    EXPECT_EQ(told["info"]["sender"].string_value(), a_id);

    for (const sent_file& f : sent) {
        const std::string& id = offered->file_ids.at(f.name);
        const Json done = mesk_b->event("download_completed", 180s, file_is(id));
        ASSERT_FALSE(done.is_null()) << f.name << " did not complete on B";
        EXPECT_EQ(done["chat_id"].string_value(), offered->chat_id);
        EXPECT_EQ(done["filepath"].string_value(), f.received);
    }
    const auto finished = clock_type::now();
    for (const sent_file& f : sent) {
        EXPECT_EQ(file_sha256(downloads_folder(b) + (f.kept_as.empty() ? f.received : f.kept_as)), f.sha256)
            << f.received;
        // "download_completed" leaves just before the store notes the file complete.
        const auto noted_by = clock_type::now() + 20s;
        std::string status;
        while ((status = stored_status(b, offered->file_ids.at(f.name))).rfind("complete", 0) != 0 &&
               clock_type::now() < noted_by) {
            std::this_thread::sleep_for(50ms);
        }
        EXPECT_EQ(status.substr(0, 8), "complete") << f.name;
    }
    EXPECT_EQ(file_sha256(downloads_folder(b) + "exists.bin"), in_the_way)
        << "the file that was in the way stays where it is";
    EXPECT_TRUE(temporary_files(downloads_folder(b)).empty());
    for (const Json& error : all_events(*mesk_b, "download_error", {})) ADD_FAILURE() << error.dump();

    // B's progress of the big file: every 2 s at most, the end included.
    const std::string big = offered->file_ids.at("big 50 MiB.bin");
    const std::vector<Json> progress = all_events(*mesk_b, "update_bytes_transferred", file_is(big));
    ASSERT_FALSE(progress.empty());
    const auto seconds = std::chrono::duration_cast<std::chrono::milliseconds>(finished - started).count() / 1000.0;
    EXPECT_LE(progress.size(), static_cast<std::size_t>(seconds / 2) + 2) << "in " << seconds << " s";
    EXPECT_EQ(progress.back()["bytes_transferred"].string_value(), std::to_string(50ull << 20));
    EXPECT_EQ(progress.back()["total_bytes"].string_value(), std::to_string(50ull << 20));
    EXPECT_EQ(progress.back()["device"].string_value(), a_id);
    EXPECT_EQ(progress.back()["other_files"]["number_of_files"].string_value(), std::to_string(sent.size()));

    // A saw its upload move, short of complete until B confirms it, and is told that it
    // arrived.
    const Json uploaded = mesk_a->event("update_bytes_transferred", 10s, [&](const Json& e) {
        return e["file_id"].string_value() == big &&
               e["bytes_transferred"].string_value() == std::to_string((50ull << 20) - 1);
    });
    EXPECT_FALSE(uploaded.is_null()) << "A did not see the whole upload";
    EXPECT_EQ(uploaded["device"].string_value(), b_id);
    EXPECT_FALSE(mesk_a
                     ->event("download_completed", 60s,
                             [&](const Json& e) { return e["chat_id"].string_value() == offered->chat_id; })
                     .is_null())
        << "A was not told that the files arrived";
    EXPECT_TRUE(mesk_a->quit());
    EXPECT_TRUE(mesk_b->quit());
}

}  // namespace
