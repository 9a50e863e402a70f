#include "core_lib/foundation/thread_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vandrel {
namespace {

using namespace std::chrono_literals;

bool is_ready(const std::future<void>& future) { return future.wait_for(0s) == std::future_status::ready; }

TEST(ThreadPool, ReturnsResultsWithArguments) {
    ThreadPool pool(2);
    auto sum = pool.enqueue([](int a, int b) { return a + b; }, 2, 3);
    auto text = pool.enqueue([](std::string s, std::unique_ptr<int> n) { return s + std::to_string(*n); },
                             std::string("n="), std::make_unique<int>(7));
    EXPECT_EQ(sum.get(), 5);
    EXPECT_EQ(text.get(), "n=7");
}

TEST(ThreadPool, JobExceptionReachesItsFutureAndPoolGoesOn) {
    ThreadPool pool(1);
    auto failing = pool.enqueue([]() -> int { throw std::logic_error("job failed"); });
    auto later = pool.enqueue([] { return 42; });
    try {
        failing.get();
        ADD_FAILURE() << "no exception";
    } catch (const std::logic_error& e) {
        EXPECT_STREQ(e.what(), "job failed");
    }
    EXPECT_EQ(later.get(), 42);
}

TEST(ThreadPool, OneWorkerRunsJobsStrictlyInQueueOrder) {
    std::vector<int> order;
    std::vector<std::future<void>> done;
    {
        ThreadPool pool(1);
        // Hold the worker so that every job is queued before the first one is taken.
        std::promise<void> release;
        pool.enqueue([gate = release.get_future()]() mutable { gate.wait(); });
        for (int i = 0; i < 200; ++i) done.push_back(pool.enqueue([&order, i] { order.push_back(i); }));
        release.set_value();
        for (auto& future : done) future.get();
    }
    ASSERT_EQ(order.size(), 200u);
    for (int i = 0; i < 200; ++i) EXPECT_EQ(order[i], i);
}

TEST(ThreadPool, DestructionRunsEveryQueuedJobFirst) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> ran{0};
    std::vector<std::future<void>> futures;
    std::thread opener;
    {
        ThreadPool pool(2);
        for (int i = 0; i < 2; ++i) futures.push_back(pool.enqueue([released] { released.wait(); }));
        for (int i = 0; i < 50; ++i) {
            futures.push_back(pool.enqueue([&ran] {
                std::this_thread::sleep_for(1ms);
                ++ran;
            }));
        }
        // Both workers are held until the destructor has begun.
        opener = std::thread([&release] {
            std::this_thread::sleep_for(20ms);
            release.set_value();
        });
    }
    opener.join();
    EXPECT_EQ(ran.load(), 50);
    for (const auto& future : futures) EXPECT_TRUE(is_ready(future));
}

TEST(ThreadPool, EnqueueDuringDestructionThrows) {
    auto pool = std::make_unique<ThreadPool>(1);
    ThreadPool* raw = pool.get();
    std::promise<void> destroying;
    std::future<void> destroying_started = destroying.get_future();
    std::vector<std::future<int>> accepted;

    auto attempt = pool->enqueue([raw, &destroying_started, &accepted]() -> std::string {
        destroying_started.wait();
        // Jobs queued before the stop flag is set still run; keep trying until it is.
        for (;;) {
            try {
                accepted.push_back(raw->enqueue([] { return 1; }));
            } catch (const std::runtime_error& e) {
                return e.what();
            }
            std::this_thread::yield();
        }
    });
    std::thread destroyer([&pool, &destroying] {
        destroying.set_value();
        pool.reset();
    });
    destroyer.join();
    EXPECT_EQ(attempt.get(), "enqueue on stopped ThreadPool");
    for (auto& future : accepted) EXPECT_EQ(future.get(), 1);
}

TEST(ThreadPool, FiveWorkersRunFiveMutuallyWaitingJobsAtOnce) {
    std::mutex mutex;
    std::condition_variable changed;
    int arrived = 0;
    int finished = 0;
    bool open = false;

    ThreadPool pool(5);
    std::vector<std::future<bool>> meeting;
    for (int i = 0; i < 5; ++i) {
        meeting.push_back(pool.enqueue([&] {
            std::unique_lock<std::mutex> lock(mutex);
            ++arrived;
            changed.notify_all();
            // Bounded wait: with fewer workers the test fails instead of hanging.
            const bool all_met = changed.wait_for(lock, 10s, [&] { return arrived == 5; });
            changed.wait_for(lock, 10s, [&] { return open; });
            ++finished;
            return all_met;
        }));
    }
    auto sixth = pool.enqueue([&] {
        std::lock_guard<std::mutex> lock(mutex);
        return finished;
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, 10s, [&] { return arrived == 5; }));
    }
    // A sixth worker, if there were one, would run the sixth job now.
    std::this_thread::sleep_for(50ms);
    {
        std::lock_guard<std::mutex> lock(mutex);
        open = true;
    }
    changed.notify_all();
    for (auto& future : meeting) EXPECT_TRUE(future.get());
    EXPECT_GE(sixth.get(), 1);
}

TEST(ThreadPool, JobMayEnqueueOnItsOwnPool) {
    ThreadPool pool(1);
    auto outer = pool.enqueue([&pool] { return pool.enqueue([] { return 9; }); });
    EXPECT_EQ(outer.get().get(), 9);
}

TEST(ThreadPool, IdlePoolsStopPromptly) {
    for (unsigned workers : {0u, 1u, 5u, 16u}) {
        ThreadPool pool(workers);
    }
}

TEST(ThreadPool, DroppedFuturesStillRun) {
    std::atomic<int> ran{0};
    {
        ThreadPool pool(3);
        for (int i = 0; i < 30; ++i) {
            pool.enqueue([&ran] { ++ran; });
            pool.enqueue([]() -> int { throw std::runtime_error("dropped"); });
        }
    }
    EXPECT_EQ(ran.load(), 30);
}

}  // namespace
}  // namespace vandrel
