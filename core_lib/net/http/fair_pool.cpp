#include "core_lib/net/http/fair_pool.h"

#include <chrono>

#include "core_lib/foundation/named_thread.h"
#include "core_lib/foundation/run_logged.h"

namespace vandrel {

namespace {

// Long enough to span the gap between a busy server's requests, short enough that an idle
// pool costs nothing.
constexpr std::chrono::microseconds watch_time{50};

}  // namespace

fair_pool::fair_pool(unsigned workers, unsigned running_per_key, const std::string& thread_name)
    : running_per_key_(running_per_key) {
    workers_.reserve(workers);
    try {
        for (unsigned i = 0; i < workers; ++i)
            workers_.push_back(start_thread(numbered_thread_name(thread_name, i + 1), [this] { work(); }));
    } catch (...) {
        stop();
        throw;
    }
}

bool fair_pool::offer_turn(const std::string& key, lane& l) {
    if (l.in_turn || l.jobs.empty() || l.running >= running_per_key_) return false;
    l.in_turn = true;
    turns_.push_back(key);
    turns_listed_.store(turns_.size(), std::memory_order_release);
    return true;
}

bool fair_pool::watch_for_turn() const {
    const auto until = std::chrono::steady_clock::now() + watch_time;
    do {
        for (int i = 0; i < 64; ++i) {
            if (turns_listed_.load(std::memory_order_acquire) > 0) return true;
        }
    } while (std::chrono::steady_clock::now() < until);
    return false;
}

bool fair_pool::submit(const std::string& key, std::function<void()> job) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return false;
        lane& l = lanes_[key];
        l.jobs.push_back(std::move(job));
        ++pending_;
        // A watching worker sees the turn without being woken.
        wake = offer_turn(key, l) && watching_.load() == 0;
    }
    // Woken outside the lock, the worker does not wait for it at once.
    if (wake) has_work_.notify_one();
    return true;
}

void fair_pool::stop() {
    std::map<std::string, lane> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        turns_.clear();
        turns_listed_ = 0;
        for (auto& [key, l] : lanes_) {
            pending_ -= l.jobs.size();
            dropped[key].jobs = std::move(l.jobs);
            l.jobs.clear();
        }
    }
    has_work_.notify_all();
    for (std::thread& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
    // What the dropped jobs hold goes here, on the stopping thread.
    dropped.clear();
}

std::size_t fair_pool::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_;
}

void fair_pool::work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (!stopping_ && turns_.empty()) {
            ++watching_;
            lock.unlock();
            watch_for_turn();
            lock.lock();
            --watching_;
            has_work_.wait(lock, [this] { return stopping_ || !turns_.empty(); });
        }
        if (stopping_) return;
        const std::string key = std::move(turns_.front());
        turns_.pop_front();
        lane& taken = lanes_[key];
        taken.in_turn = false;
        if (taken.jobs.empty() || taken.running >= running_per_key_) {
            turns_listed_.store(turns_.size(), std::memory_order_release);
            continue;
        }
        std::function<void()> job = std::move(taken.jobs.front());
        taken.jobs.pop_front();
        ++taken.running;
        // Its next job waits behind every other key's.
        (void)offer_turn(key, taken);
        turns_listed_.store(turns_.size(), std::memory_order_release);
        // Turns left over go to another worker while this one runs its job.
        const bool wake = !turns_.empty() && watching_.load() == 0;
        lock.unlock();
        if (wake) has_work_.notify_one();
        run_logged("request handler", job);
        job = nullptr;  // what the job held goes before the lane is touched again
        lock.lock();
        lane& done = lanes_[key];
        --done.running;
        --pending_;
        // This worker looks at the turns again at once: waking another one for this
        // turn would only switch threads, once per request.
        (void)offer_turn(key, done);
        if (done.jobs.empty() && done.running == 0 && !done.in_turn) lanes_.erase(key);
    }
}

}  // namespace vandrel
