// A transfer cut in the middle goes on from where it stopped: the sender or the
// receiver killed, or a sender that stops answering. The link is slowed while the
// transfer is to be cut, so that the moment of the cut is reliable.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>
#include <vector>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/transfer_harness.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr std::uint64_t big_size = 200ull << 20;

class TransferResume : public ::testing::Test {
protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        const std::string why = TestNetwork::unavailable_reason();
        if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
        const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        devices_ = name.find("Stalled") != std::string::npos ? 3 : 2;
        net_ = std::make_unique<TestNetwork>(devices_);
    }

    // Starts mesk on each device and waits until every two list each other.
    void meet() {
        const int count = devices_;
        for (int i = 0; i < count; ++i) {
            sessions_.push_back(start_mesk_session(*net_, net_->device(i)));
            ASSERT_TRUE(sessions_.back()) << "device " << i << " did not start";
            ids_.push_back(sessions_.back()->id());
        }
        for (int i = 0; i < count; ++i) {
            for (int j = 0; j < count; ++j) {
                if (i == j) continue;
                ASSERT_TRUE(sessions_[i]->lists({{ids_[j], net_->device(j).address}}, clock_type::now() + 30s))
                    << "device " << i << " never met device " << j;
            }
        }
    }

    // Kills the device's mesk at once.
    void kill(int index) {
        sessions_[index]->process().send_signal(SIGKILL);
        ASSERT_TRUE(sessions_[index]->process().wait_exit(10s));
        sessions_[index].reset();
    }
    void restart(int index) {
        sessions_[index] = start_mesk_session(*net_, net_->device(index));
        ASSERT_TRUE(sessions_[index]) << "device " << index << " did not start again";
    }

    // The upload progress the sender reports for the file, the first one it sends from now on.
    static Json first_progress(MeskSession& sender, const std::string& id) {
        return sender.event("update_bytes_transferred", 60s, file_is(id));
    }

    MeskSession& session(int index) { return *sessions_.at(index); }
    const TestDevice& device(int index) const { return net_->device(index); }

    int devices_ = 2;
    std::unique_ptr<TestNetwork> net_;
    std::vector<std::unique_ptr<MeskSession>> sessions_;
    std::vector<std::string> ids_;
};

TEST_F(TransferResume, ASenderKilledMidFileIsResumedFromWhereItStopped) {
    const std::string name = "resume me.bin";
    const std::string sha = write_random_file(pictures_folder(device(0)) + name, big_size, 7);
    meet();
    limit_rate(*net_, device(0), "200mbit");
    const auto offered = offer_files(session(0), ids_[1], {pictures_folder(device(0)) + name});
    ASSERT_TRUE(offered);
    const std::string id = offered->file_ids.at(name);
    const std::string temporary = partial_file(downloads_folder(device(1)), id);

    ASSERT_TRUE(wait_for_size(temporary, big_size * 3 / 10, 60s)) << "the transfer did not get going";
    kill(0);
    const Json cut = session(1).event("download_error", 30s, file_is(id));
    ASSERT_FALSE(cut.is_null()) << "B did not see the transfer end";
    EXPECT_EQ(cut["error"].string_value(), "connection_closed");
    EXPECT_EQ(stored_status(device(1), id), "error");
    const std::uint64_t held = file_size(temporary).value_or(0);
    ASSERT_GE(held, big_size * 3 / 10);
    ASSERT_LT(held, big_size);

    limit_rate(*net_, device(0), "");
    const std::uint64_t sent_before = sent_bytes(*net_, device(0));
    restart(0);
    ASSERT_TRUE(session(1).lists({{ids_[0], device(0).address}}, clock_type::now() + 30s));
    ASSERT_TRUE(session(0).lists({{ids_[1], device(1).address}}, clock_type::now() + 30s));
    const Json queued = session(1).request(
        "/download_file", Json(Json::object{{"file_id", id}, {"download_id", offered->chat_id}}).dump());
    ASSERT_EQ(queued["status"].string_value(), "success") << queued.dump();

    const Json first = first_progress(session(0), id);
    ASSERT_FALSE(first.is_null()) << "the restarted sender sent nothing";
    const std::uint64_t resumed_at = std::stoull(first["bytes_transferred"].string_value());
    EXPECT_GT(resumed_at, held) << "the sender started before the offset";
    EXPECT_LE(resumed_at, held + 16384) << "the sender started past the offset";
    ASSERT_FALSE(session(1).event("download_completed", 120s, file_is(id)).is_null());
    EXPECT_EQ(file_sha256(downloads_folder(device(1)) + name), sha);
    EXPECT_TRUE(temporary_files(downloads_folder(device(1))).empty());
    // The bytes before the offset did not cross the link again.
    const std::uint64_t sent = sent_bytes(*net_, device(0)) - sent_before;
    EXPECT_LT(sent, (big_size - held) * 11 / 10 + (1u << 20)) << "sent " << sent << " for " << big_size - held;
}

TEST_F(TransferResume, AReceiverKilledMidFileGoesOnWhenItStartsAgain) {
    const std::string name = "resume me too.bin";
    const std::string sha = write_random_file(pictures_folder(device(0)) + name, big_size, 8);
    meet();
    limit_rate(*net_, device(0), "200mbit");
    const auto offered = offer_files(session(0), ids_[1], {pictures_folder(device(0)) + name});
    ASSERT_TRUE(offered);
    const std::string id = offered->file_ids.at(name);
    const std::string temporary = partial_file(downloads_folder(device(1)), id);

    ASSERT_TRUE(wait_for_size(temporary, big_size * 3 / 10, 60s)) << "the transfer did not get going";
    kill(1);
    // What the sender reported of the cut connection is behind us.
    session(0).events_within("update_bytes_transferred", 1s);
    const std::uint64_t held = file_size(temporary).value_or(0);
    ASSERT_LT(held, big_size);
    limit_rate(*net_, device(0), "");
    const std::uint64_t sent_before = sent_bytes(*net_, device(0));
    restart(1);

    const Json first = first_progress(session(0), id);
    ASSERT_FALSE(first.is_null()) << "the receiver did not ask again";
    const std::uint64_t resumed_at = std::stoull(first["bytes_transferred"].string_value());
    EXPECT_GT(resumed_at, held);
    EXPECT_LE(resumed_at, held + 16384);
    ASSERT_FALSE(session(1).event("download_completed", 120s, file_is(id)).is_null());
    EXPECT_EQ(file_sha256(downloads_folder(device(1)) + name), sha);
    EXPECT_TRUE(temporary_files(downloads_folder(device(1))).empty());
    const std::uint64_t sent = sent_bytes(*net_, device(0)) - sent_before;
    EXPECT_LT(sent, (big_size - held) * 11 / 10 + (1u << 20)) << "sent " << sent << " for " << big_size - held;
}

// A stops answering in the middle of a file: B gives up on it within 35 s and takes C's
// file; once A answers again and offers its upload anew, the file completes.
TEST_F(TransferResume, AStalledSenderTimesOutAndTheQueueMovesOn) {
    const std::string stalled = "stalled.bin";
    const std::string waiting = "waiting.bin";
    const std::string stalled_sha = write_random_file(pictures_folder(device(0)) + stalled, 50ull << 20, 9);
    const std::string waiting_sha = write_random_file(pictures_folder(device(2)) + waiting, 1u << 20, 10);
    meet();
    limit_rate(*net_, device(0), "40mbit");
    const auto from_a = offer_files(session(0), ids_[1], {pictures_folder(device(0)) + stalled});
    ASSERT_TRUE(from_a);
    const std::string id = from_a->file_ids.at(stalled);
    ASSERT_TRUE(wait_for_size(partial_file(downloads_folder(device(1)), id), 1u << 20, 60s));
    const auto from_c = offer_files(session(2), ids_[1], {pictures_folder(device(2)) + waiting});
    ASSERT_TRUE(from_c);
    ASSERT_FALSE(
        session(1)
            .event("new_chat", 30s, [&](const Json& e) { return e["info"]["id"].string_value() == from_c->chat_id; })
            .is_null());

    session(0).process().send_signal(SIGSTOP);
    const auto stopped_at = clock_type::now();
    const Json timed_out = session(1).event("download_error", 40s, file_is(id));
    ASSERT_FALSE(timed_out.is_null()) << "B kept waiting for the stalled sender";
    EXPECT_EQ(timed_out["error"].string_value(), "timed out");
    EXPECT_LE(clock_type::now() - stopped_at, 35s);
    const Json next = session(1).event("download_completed", 30s, file_is(from_c->file_ids.at(waiting)));
    ASSERT_FALSE(next.is_null()) << "the queue did not move on";
    EXPECT_EQ(file_sha256(downloads_folder(device(1)) + waiting), waiting_sha);

    session(0).process().send_signal(SIGCONT);
    limit_rate(*net_, device(0), "");
    const Json resent = session(0).request("/resend", Json(Json::object{{"id", from_a->chat_id}}).dump());
    EXPECT_EQ(resent["status"].string_value(), "success") << resent.dump();
    ASSERT_FALSE(session(1).event("download_completed", 60s, file_is(id)).is_null());
    EXPECT_EQ(file_sha256(downloads_folder(device(1)) + stalled), stalled_sha);
}

}  // namespace
