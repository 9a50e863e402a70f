// The request pool's promises: keys take turns, one key never runs more than its share
// at once, every free worker is put to use for the keys that wait, and stop drops what
// is queued.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "core_lib/net/http/fair_pool.h"

using namespace vandrel;
using namespace std::chrono_literals;

namespace {

// Jobs that hold their worker until released, counting how many run at once per key.
class held_jobs {
public:
    std::function<void()> job(const std::string& key) {
        return [this, key] {
            std::unique_lock<std::mutex> lock(mutex_);
            ++running_[key];
            ++started_;
            if (running_[key] > most_[key]) most_[key] = running_[key];
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_; });
            --running_[key];
            ++finished_;
            changed_.notify_all();
        };
    }
    // True once `count` jobs have started, within a generous time.
    bool started(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return started_ >= count; });
    }
    bool finished(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, 20s, [&] { return finished_ >= count; });
    }
    void release() {
        const std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }
    int started_now() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return started_;
    }
    int most_at_once(const std::string& key) {
        const std::lock_guard<std::mutex> lock(mutex_);
        return most_[key];
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<std::string, int> running_;
    std::map<std::string, int> most_;
    int started_ = 0;
    int finished_ = 0;
    bool released_ = false;
};

TEST(FairPool, AKeyRunsNoMoreThanItsShareAndOtherKeysGetTheFreeWorkers) {
    fair_pool pool(4, 2);
    held_jobs jobs;
    for (int i = 0; i < 6; ++i) ASSERT_TRUE(pool.submit("busy", jobs.job("busy")));
    ASSERT_TRUE(jobs.started(2));
    // The two workers left go to two other keys at once, ahead of the busy key's queue.
    ASSERT_TRUE(pool.submit("a", jobs.job("a")));
    ASSERT_TRUE(pool.submit("b", jobs.job("b")));
    ASSERT_TRUE(jobs.started(4));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(jobs.started_now(), 4);
    EXPECT_EQ(pool.pending(), 8U);
    jobs.release();
    ASSERT_TRUE(jobs.finished(8));
    EXPECT_EQ(jobs.most_at_once("busy"), 2);
    EXPECT_EQ(jobs.most_at_once("a"), 1);
}

TEST(FairPool, KeysQueuedWhileEveryWorkerIsBusyAllRunOnceWorkersFree) {
    // Three keys each get a worker of their own: submitted together to workers that
    // have gone to sleep, and queued together while the workers were taken.
    fair_pool pool(3, 1);
    std::this_thread::sleep_for(20ms);
    held_jobs first;
    for (const char* key : {"x", "y", "z"}) ASSERT_TRUE(pool.submit(key, first.job(key)));
    ASSERT_TRUE(first.started(3));
    held_jobs second;
    for (const char* key : {"a", "b", "c"}) ASSERT_TRUE(pool.submit(key, second.job(key)));
    first.release();
    ASSERT_TRUE(second.started(3));
    second.release();
    ASSERT_TRUE(second.finished(3));
    // A job counts as pending until its worker is back from it.
    for (int i = 0; i < 2000 && pool.pending() > 0; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(pool.pending(), 0U);
}

TEST(FairPool, StopDropsWhatIsQueuedAndRefusesMore) {
    auto pool = std::make_unique<fair_pool>(1, 1);
    held_jobs jobs;
    std::atomic<int> ran{0};
    ASSERT_TRUE(pool->submit("a", jobs.job("a")));
    ASSERT_TRUE(jobs.started(1));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(pool->submit("a", [&ran] { ++ran; }));
    std::thread stopper([&] { pool->stop(); });
    std::this_thread::sleep_for(20ms);
    jobs.release();
    stopper.join();
    EXPECT_EQ(ran.load(), 0);
    EXPECT_FALSE(pool->submit("a", [&ran] { ++ran; }));
}

}  // namespace
