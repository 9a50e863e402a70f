#include "core_lib/api/background_jobs.h"

#include "core_lib/api/api_state.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace vandrel {
namespace {

using namespace std::chrono_literals;

// The request pools of a core, bound for the test.
class BackgroundJobs : public ::testing::Test {
protected:
    api_state api;
    current_api::binding bound{api};
};

TEST_F(BackgroundJobs, AThrowingJobIsDroppedAndThePoolGoesOn) {
    std::atomic<int> done{0};
    start_background_job("throws", [] { throw std::runtime_error("boom"); });
    start_background_job("throws anything", [] { throw 42; });
    for (int i = 0; i < 20; ++i) start_background_job("counts", [&done] { ++done; });
    ASSERT_TRUE(wait_for_background_jobs(5s));
    EXPECT_EQ(done.load(), 20);
}

TEST_F(BackgroundJobs, RunsOnABoundedNumberOfThreads) {
    std::mutex mutex;
    std::set<std::thread::id> threads;
    std::atomic<int> running{0};
    std::atomic<int> most{0};
    for (int i = 0; i < 200; ++i) {
        start_background_job("tracks", [&] {
            const int now = ++running;
            int seen = most.load();
            while (now > seen && !most.compare_exchange_weak(seen, now)) {}
            {
                std::lock_guard<std::mutex> lock(mutex);
                threads.insert(std::this_thread::get_id());
            }
            std::this_thread::sleep_for(200us);
            --running;
        });
    }
    ASSERT_TRUE(wait_for_background_jobs(10s));
    // Only the workers ran jobs.
    EXPECT_LE(threads.size(), background_worker_count());
    EXPECT_LE(most.load(), static_cast<int>(background_worker_count()));
}

TEST_F(BackgroundJobs, AFullQueueRefusesAndNeverRunsAJobOnTheCaller) {
    std::atomic<bool> release{false};
    // Occupy every worker, then fill the queue far beyond its bound.
    for (unsigned i = 0; i < background_worker_count(); ++i) {
        ASSERT_TRUE(start_background_job("blocks", [&release] {
            while (!release) std::this_thread::sleep_for(1ms);
        }));
    }
    std::atomic<int> on_caller{0};
    std::atomic<int> ran{0};
    int refused = 0;
    const auto caller = std::this_thread::get_id();
    for (int i = 0; i < 5000; ++i) {
        const bool queued = start_background_job("fills", [&on_caller, &ran, caller] {
            ++ran;
            if (std::this_thread::get_id() == caller) ++on_caller;
        });
        if (!queued) ++refused;
    }
    EXPECT_GT(refused, 0);
    release = true;
    ASSERT_TRUE(wait_for_background_jobs(10s));
    EXPECT_EQ(on_caller.load(), 0);
    EXPECT_EQ(ran.load(), 5000 - refused) << "every job taken ran, none refused did";
}

TEST_F(BackgroundJobs, ALongJobDoesNotHoldUpARequest) {
    std::atomic<bool> release{false};
    for (unsigned i = 0; i < background_worker_count(); ++i) {
        ASSERT_TRUE(start_background_job("walk", [&release] {
            while (!release) std::this_thread::sleep_for(1ms);
        }));
    }
    std::promise<void> answered;
    ASSERT_TRUE(start_request_job("request", [&answered] { answered.set_value(); }));
    EXPECT_EQ(answered.get_future().wait_for(10s), std::future_status::ready);
    release = true;
    // The walks read `release` until they end: they must end before it goes.
    EXPECT_TRUE(wait_for_background_jobs(10s));
}

}  // namespace
}  // namespace vandrel
