// The user stops or pauses a transfer on either side while a file moves (the link
// slowed so that it is still moving), then takes it up again: each side sees the
// words and statuses of what happened, and the files complete afterwards.
#include <gtest/gtest.h>

#include <signal.h>

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

class TransferControl : public NetworkFixture<2> {
protected:
    const TestDevice& a() const { return net_->device(0); }
    const TestDevice& b() const { return net_->device(1); }

    void meet() {
        mesk_a_ = start_mesk_session(*net_, a());
        mesk_b_ = start_mesk_session(*net_, b());
        ASSERT_TRUE(mesk_a_ && mesk_b_);
        a_id_ = mesk_a_->id();
        b_id_ = mesk_b_->id();
        ASSERT_TRUE(mesk_a_->lists({{b_id_, b().address}}, clock_type::now() + 30s));
        ASSERT_TRUE(mesk_b_->lists({{a_id_, a().address}}, clock_type::now() + 30s));
    }

    // Files of random bytes in A's pictures; their paths, and their SHA-256 by name.
    std::vector<std::string> make_files(const std::vector<std::pair<std::string, std::uint64_t>>& files) {
        std::vector<std::string> paths;
        for (const auto& [name, size] : files) {
            paths.push_back(pictures_folder(a()) + name);
            sha_[name] = write_random_file(paths.back(), size, sha_.size() + 20);
        }
        return paths;
    }

    // A offers the files to B, and B is told; the file listed last is fetched first.
    offer offer_to_b(const std::vector<std::string>& paths) {
        auto made = offer_files(*mesk_a_, b_id_, paths);
        EXPECT_TRUE(made);
        if (!made) return {};
        EXPECT_FALSE(
            mesk_b_
                ->event("new_chat", 30s, [&](const Json& e) { return e["info"]["id"].string_value() == made->chat_id; })
                .is_null());
        return *made;
    }

    std::string temporary(const std::string& file_id) const { return partial_file(downloads_folder(b()), file_id); }
    Json error_on_b(const std::string& id) { return mesk_b_->event("download_error", 30s, file_is(id)); }
    bool completes_on_b(const std::string& name, const std::string& id) {
        if (mesk_b_->event("download_completed", 60s, file_is(id)).is_null()) return false;
        return file_sha256(downloads_folder(b()) + name) == sha_[name];
    }
    Json ask_b(const std::string& endpoint, const Json& body) { return mesk_b_->request(endpoint, body.dump()); }
    Json ask_a(const std::string& endpoint, const Json& body) { return mesk_a_->request(endpoint, body.dump()); }

    std::unique_ptr<MeskSession> mesk_a_;
    std::unique_ptr<MeskSession> mesk_b_;
    std::string a_id_;
    std::string b_id_;
    std::map<std::string, std::string> sha_;
};

TEST_F(TransferControl, TheSenderPausesOneFileOrStopsTheUploadUntilItResumes) {
    const auto paths = make_files({{"other.bin", 2u << 20}, {"paused.bin", 30u << 20}, {"stopped.bin", 30u << 20}});
    meet();
    limit_rate(*net_, a(), "40mbit");
    const offer first = offer_to_b({paths[0], paths[1]});
    const std::string paused = first.file_ids.at("paused.bin");
    const std::string other = first.file_ids.at("other.bin");
    ASSERT_TRUE(wait_for_size(temporary(paused), 1u << 20, 60s));

    // One file paused: only its answer ends, and a new request for it is refused.
    EXPECT_EQ(
        ask_a("/pause_file_upload", Json::object{{"id", paused}, {"chat_id", first.chat_id}})["status"].string_value(),
        "success");
    Json ended = error_on_b(paused);
    ASSERT_FALSE(ended.is_null());
    EXPECT_EQ(ended["error"].string_value(), "connection_closed");
    EXPECT_EQ(stored_status(a(), paused, "files_to_send"), "paused");
    EXPECT_TRUE(completes_on_b("other.bin", other)) << "the other file of the upload goes on";
    EXPECT_EQ(ask_b("/download_file", Json::object{{"file_id", paused}, {"download_id", first.chat_id}})["status"]
                  .string_value(),
              "success");
    ended = error_on_b(paused);
    ASSERT_FALSE(ended.is_null());
    EXPECT_EQ(ended["error"].string_value(), "remote_file_paused");
    EXPECT_EQ(stored_status(b(), paused), "error");

    // Resumed, the upload is offered anew and the file goes on from where it was.
    limit_rate(*net_, a(), "");
    ask_a("/resume_file_upload", Json::object{{"id", paused}, {"chat_id", first.chat_id}});
    EXPECT_TRUE(completes_on_b("paused.bin", paused));
    EXPECT_EQ(stored_status(a(), paused, "files_to_send"), "");
    EXPECT_TRUE(mesk_b_->event("download_completed", 3s, file_is(other)).is_null()) << "a complete file came again";

    // The whole upload stopped: refused until it is resumed.
    limit_rate(*net_, a(), "40mbit");
    const offer second = offer_to_b({paths[2]});
    const std::string stopped = second.file_ids.at("stopped.bin");
    ASSERT_TRUE(wait_for_size(temporary(stopped), 1u << 20, 60s));
    ask_a("/stop_upload", Json::object{{"id", second.chat_id}});
    ended = error_on_b(stopped);
    ASSERT_FALSE(ended.is_null());
    EXPECT_EQ(ended["error"].string_value(), "connection_closed");
    ask_b("/download_file", Json::object{{"file_id", stopped}, {"download_id", second.chat_id}});
    ended = error_on_b(stopped);
    ASSERT_FALSE(ended.is_null());
    EXPECT_EQ(ended["error"].string_value(), "remote_file_paused");
    limit_rate(*net_, a(), "");
    ask_a("/resume_upload", Json::object{{"chat_id", second.chat_id}});
    EXPECT_TRUE(completes_on_b("stopped.bin", stopped));
    EXPECT_TRUE(temporary_files(downloads_folder(b())).empty());
}

TEST_F(TransferControl, TheReceiverStopsADownloadAndTakesItUpAgain) {
    const auto paths = make_files({{"later.bin", 1u << 20}, {"running.bin", 30u << 20}});
    meet();
    limit_rate(*net_, a(), "40mbit");
    const offer offered = offer_to_b(paths);
    const std::string running = offered.file_ids.at("running.bin");
    const std::string later = offered.file_ids.at("later.bin");
    ASSERT_TRUE(wait_for_size(temporary(running), 1u << 20, 60s));

    EXPECT_EQ(ask_b("/stop_download", Json::object{{"id", offered.chat_id}})["status"].string_value(), "success");
    const Json ended = error_on_b(running);
    ASSERT_FALSE(ended.is_null());
    EXPECT_EQ(ended["error"].string_value(), "stopped_by_user");
    EXPECT_EQ(stored_status(b(), running), "error");
    EXPECT_EQ(stored_status(b(), later), "stopped");
    EXPECT_TRUE(mesk_b_->event("download_completed", 2s, file_is(later)).is_null()) << "a stopped file was fetched";
    const std::uint64_t held = file_size(temporary(running)).value_or(0);
    EXPECT_GT(held, 0u);

    // The running file queued again goes on from what it holds; then the whole download.
    limit_rate(*net_, a(), "");
    mesk_a_->events_within("update_bytes_transferred", 500ms);
    EXPECT_EQ(ask_b("/download_file", Json::object{{"file_id", running}, {"download_id", offered.chat_id}})["status"]
                  .string_value(),
              "success");
    const Json first = mesk_a_->event("update_bytes_transferred", 30s, file_is(running));
    ASSERT_FALSE(first.is_null());
    EXPECT_GT(std::stoull(first["bytes_transferred"].string_value()), held);
    EXPECT_LE(std::stoull(first["bytes_transferred"].string_value()), held + 16384) << "it started again from 0";
    EXPECT_TRUE(completes_on_b("running.bin", running));
    EXPECT_EQ(stored_status(b(), later), "stopped") << "one file queued, not the others";
    ask_b("/download_files", Json::object{{"download_id", offered.chat_id}});
    EXPECT_TRUE(completes_on_b("later.bin", later));
    EXPECT_EQ(stored_status(b(), running).substr(0, 8), "complete") << "a complete file is never queued again";
}

}  // namespace
