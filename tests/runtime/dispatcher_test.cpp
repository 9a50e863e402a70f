#include "MeskRuntimeComponent/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace vandrel {
namespace {

class DispatcherTest : public ::testing::Test {
protected:
    void post(DispatchPriority priority, std::string name) {
        dispatcher->RunAsync(priority, [this, name] {
            std::lock_guard<std::mutex> lock(mutex);
            ran.push_back(name);
        });
    }
    std::vector<std::string> ran_jobs() {
        std::lock_guard<std::mutex> lock(mutex);
        return ran;
    }

    std::shared_ptr<Dispatcher> dispatcher = Dispatcher::create();
    std::mutex mutex;
    std::vector<std::string> ran;
};

TEST_F(DispatcherTest, HighRunsBeforeNormalAndOrderWithinAPriorityIsKept) {
    post(DispatchPriority::Normal, "n1");
    post(DispatchPriority::High, "h1");
    post(DispatchPriority::Normal, "n2");
    post(DispatchPriority::High, "h2");
    EXPECT_TRUE(ran_jobs().empty()) << "posting must not run anything";
    EXPECT_EQ(dispatcher->pending(), 4u);

    EXPECT_EQ(dispatcher->drain(), 4u);
    EXPECT_EQ(ran_jobs(), (std::vector<std::string>{"h1", "h2", "n1", "n2"}));
    EXPECT_FALSE(dispatcher->run_one());
}

TEST_F(DispatcherTest, HighPostedByARunningJobOvertakesQueuedNormalJobs) {
    dispatcher->RunAsync(DispatchPriority::Normal, [this] {
        post(DispatchPriority::Normal, "late normal");
        post(DispatchPriority::High, "high from job");
    });
    post(DispatchPriority::Normal, "queued normal");

    EXPECT_EQ(dispatcher->drain(), 4u);
    EXPECT_EQ(ran_jobs(), (std::vector<std::string>{"high from job", "queued normal", "late normal"}));
}

TEST_F(DispatcherTest, AThrowingJobIsCaughtAndLaterJobsStillRun) {
    dispatcher->RunAsync(DispatchPriority::High, [] { throw std::runtime_error("boom"); });
    dispatcher->RunAsync(DispatchPriority::High, [] { throw 42; });
    post(DispatchPriority::Normal, "after");

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(dispatcher->drain(), 3u);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("boom"), std::string::npos);
    EXPECT_EQ(ran_jobs(), (std::vector<std::string>{"after"}));
}

TEST_F(DispatcherTest, JobsPostedFromManyThreadsRunOnTheDrainingThreadInEachThreadsOrder) {
    constexpr int threads = 4;
    constexpr int per_thread = 200;
    std::vector<std::vector<int>> seen(threads);
    std::atomic<bool> wrong_thread{false};
    std::atomic<bool> posting_done{false};
    std::thread::id drainer;

    std::thread drain_thread([&] {
        drainer = std::this_thread::get_id();
        // Drains while the others post, then once more for what came last.
        while (!posting_done.load()) dispatcher->drain();
        dispatcher->drain();
    });
    std::vector<std::thread> posters;
    for (int t = 0; t < threads; ++t) {
        posters.emplace_back([&, t] {
            for (int i = 0; i < per_thread; ++i) {
                dispatcher->RunAsync(DispatchPriority::Normal, [&, t, i] {
                    if (std::this_thread::get_id() != drainer) wrong_thread = true;
                    seen[t].push_back(i);
                });
            }
        });
    }
    for (auto& poster : posters) poster.join();
    posting_done = true;
    drain_thread.join();

    EXPECT_FALSE(wrong_thread.load());
    for (int t = 0; t < threads; ++t) {
        ASSERT_EQ(seen[t].size(), static_cast<std::size_t>(per_thread));
        for (int i = 0; i < per_thread; ++i) EXPECT_EQ(seen[t][i], i);
    }
}

TEST_F(DispatcherTest, RunUntilStoppedRunsJobsAsTheyComeAndReturnsOnStop) {
    std::atomic<int> count{0};
    std::thread loop([&] { dispatcher->run_until_stopped(); });
    for (int i = 0; i < 10; ++i) dispatcher->RunAsync(DispatchPriority::Normal, [&] { ++count; });
    dispatcher->RunAsync(DispatchPriority::Normal, [&] { dispatcher->stop(); });
    loop.join();
    EXPECT_EQ(count.load(), 10);

    // Stopped stays stopped: a second loop returns at once; jobs wait for a drain.
    dispatcher->RunAsync(DispatchPriority::Normal, [&] { ++count; });
    dispatcher->run_until_stopped();
    EXPECT_EQ(count.load(), 10);
    EXPECT_EQ(dispatcher->drain(), 1u);
}

TEST_F(DispatcherTest, CurrentIsTheRunningDispatcherAndNullElsewhere) {
    EXPECT_EQ(Dispatcher::current(), nullptr);
    std::shared_ptr<Dispatcher> inside;
    dispatcher->RunAsync(DispatchPriority::Normal, [&] { inside = Dispatcher::current(); });
    dispatcher->drain();
    EXPECT_EQ(inside, dispatcher);
    EXPECT_EQ(Dispatcher::current(), nullptr);

    std::shared_ptr<Dispatcher> other_thread = dispatcher;
    std::thread([&] { other_thread = Dispatcher::current(); }).join();
    EXPECT_EQ(other_thread, nullptr);
}

TEST_F(DispatcherTest, ScopeBindsAThreadAndNestedRunsRestoreTheOuterBinding) {
    auto outer = Dispatcher::create();
    {
        CurrentDispatcherScope scope(outer);
        EXPECT_EQ(Dispatcher::current(), outer);
        std::shared_ptr<Dispatcher> inside;
        dispatcher->RunAsync(DispatchPriority::High, [&] { inside = Dispatcher::current(); });
        dispatcher->drain();
        EXPECT_EQ(inside, dispatcher);
        EXPECT_EQ(Dispatcher::current(), outer);
    }
    EXPECT_EQ(Dispatcher::current(), nullptr);
}

}  // namespace
}  // namespace vandrel
