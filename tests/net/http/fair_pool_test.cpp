// The request pool's promises: keys take turns, one key never runs more than its share
// at once, every free worker is put to use for the keys that wait, and stop drops what
// is queued. Jobs that are not proven hold only their share of the workers, wait behind
// proven ones and fill only their own bounded queue.
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
#include <vector>

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

TEST(FairPool, UnprovenJobsHoldTheirShareAndNeverTakeAProvenJobsRoomOrTurn) {
    using kind = fair_pool::standing;
    fair_pool_bounds bounds;
    bounds.queued_per_key = 3;
    bounds.queued_unproven = 4;
    bounds.queued_proven = 2;
    bounds.running_unproven = 2;
    fair_pool pool(3, 1, bounds);
    held_jobs jobs;
    std::mutex order_mutex;
    std::vector<std::string> order;
    auto noted = [&](const std::string& name) {
        return [&, name] {
            const std::lock_guard<std::mutex> lock(order_mutex);
            order.push_back(name);
        };
    };
    // Many unproven hosts: two run, the third worker stays free for proven peers.
    for (const char* key : {"u1", "u2", "u3"}) ASSERT_TRUE(pool.submit(key, jobs.job(key), kind::unproven));
    ASSERT_TRUE(jobs.started(2));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(jobs.started_now(), 2);
    // Their queue is bounded in all (u3 waits already) and per key.
    EXPECT_TRUE(pool.submit("u4", noted("u4"), kind::unproven));
    EXPECT_TRUE(pool.submit("u5", noted("u5"), kind::unproven));
    EXPECT_TRUE(pool.submit("u5", noted("u5"), kind::unproven));
    EXPECT_FALSE(pool.submit("u6", noted("u6"), kind::unproven)) << "the unproven queue is unbounded";
    // A proven peer's request runs at once on the free worker.
    held_jobs proven;
    ASSERT_TRUE(pool.submit("p", proven.job("p"), kind::proven));
    ASSERT_TRUE(proven.started(1));
    // Proven jobs queue in room of their own, which the full unproven queue left free.
    EXPECT_TRUE(pool.submit("q1", noted("q1"), kind::proven));
    EXPECT_TRUE(pool.submit("q2", noted("q2"), kind::proven));
    EXPECT_FALSE(pool.submit("r", noted("r"), kind::proven)) << "the proven queue is unbounded";
    jobs.release();
    proven.release();
    ASSERT_TRUE(jobs.finished(3));
    for (int i = 0; i < 2000 && pool.pending() > 0; ++i) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(pool.pending(), 0U);
    const std::lock_guard<std::mutex> lock(order_mutex);
    EXPECT_EQ(order.size(), 5u);
}

TEST(FairPool, AProvenJobGoesBeforeUnprovenOnesQueuedEarlier) {
    using kind = fair_pool::standing;
    fair_pool pool(1, 1);
    held_jobs jobs;
    std::vector<std::string> order;  // written by the one worker only
    ASSERT_TRUE(pool.submit("u1", jobs.job("u1"), kind::unproven));
    ASSERT_TRUE(jobs.started(1));
    for (const char* key : {"u2", "u3"}) {
        ASSERT_TRUE(pool.submit(
            key, [&order, key] { order.emplace_back(key); }, kind::unproven));
    }
    ASSERT_TRUE(pool.submit(
        "p", [&order] { order.emplace_back("p"); }, kind::proven));
    jobs.release();
    for (int i = 0; i < 2000 && pool.pending() > 0; ++i) std::this_thread::sleep_for(1ms);
    ASSERT_EQ(pool.pending(), 0U);
    EXPECT_EQ(order, (std::vector<std::string>{"p", "u2", "u3"}));
}

TEST(FairPool, AKeysQueueIsBounded) {
    fair_pool_bounds bounds;
    bounds.queued_per_key = 2;
    fair_pool pool(1, 1, bounds);
    held_jobs jobs;
    ASSERT_TRUE(pool.submit("a", jobs.job("a")));
    ASSERT_TRUE(jobs.started(1));
    EXPECT_TRUE(pool.submit("a", [] {}));
    EXPECT_TRUE(pool.submit("a", [] {}));
    EXPECT_FALSE(pool.submit("a", [] {}));
    EXPECT_TRUE(pool.submit("b", [] {})) << "another key lost its room";
    jobs.release();
}

}  // namespace
