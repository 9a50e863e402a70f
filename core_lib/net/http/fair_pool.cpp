#include "core_lib/net/http/fair_pool.h"

#include <chrono>

#include "core_lib/foundation/run_logged.h"

namespace vandrel {

namespace {

// Long enough to span the gap between a busy server's requests, short enough that an idle
// pool costs nothing.
constexpr std::chrono::microseconds watch_time{50};

bool over(std::size_t count, std::size_t bound) { return bound > 0 && count >= bound; }

}  // namespace

fair_pool::fair_pool(unsigned workers, unsigned running_per_key, bounds limits)
    : running_per_key_(running_per_key), bounds_(limits) {
    workers_.reserve(workers);
    try {
        for (unsigned i = 0; i < workers; ++i) workers_.emplace_back([this] { work(); });
    } catch (...) {
        stop();
        throw;
    }
}

bool fair_pool::may_take() const {
    return !proven_turns_.empty() || (!unproven_turns_.empty() && !over(running_unproven_, bounds_.running_unproven));
}

void fair_pool::publish() { turns_listed_.store(may_take() ? 1 : 0, std::memory_order_release); }

bool fair_pool::offer_turn(const std::string& key, lane& l) {
    if (l.in_turn || l.jobs.empty() || l.running >= running_per_key_) return false;
    l.in_turn = true;
    (l.jobs.front().second == standing::proven ? proven_turns_ : unproven_turns_).push_back(key);
    publish();
    return may_take();
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

bool fair_pool::submit(const std::string& key, std::function<void()> job, standing kind) {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) return false;
        std::size_t& queued = kind == standing::proven ? queued_proven_ : queued_unproven_;
        if (over(queued, kind == standing::proven ? bounds_.queued_proven : bounds_.queued_unproven)) return false;
        auto found = lanes_.find(key);
        if (found != lanes_.end() && over(found->second.jobs.size(), bounds_.queued_per_key)) return false;
        lane& l = lanes_[key];
        l.jobs.emplace_back(std::move(job), kind);
        ++queued;
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
        proven_turns_.clear();
        unproven_turns_.clear();
        turns_listed_ = 0;
        for (auto& [key, l] : lanes_) {
            pending_ -= l.jobs.size();
            dropped[key].jobs = std::move(l.jobs);
            l.jobs.clear();
        }
        queued_proven_ = 0;
        queued_unproven_ = 0;
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
        if (!stopping_ && !may_take()) {
            ++watching_;
            lock.unlock();
            watch_for_turn();
            lock.lock();
            --watching_;
            has_work_.wait(lock, [this] { return stopping_ || may_take(); });
        }
        if (stopping_) return;
        std::deque<std::string>& turns = proven_turns_.empty() ? unproven_turns_ : proven_turns_;
        const std::string key = std::move(turns.front());
        turns.pop_front();
        lane& taken = lanes_[key];
        taken.in_turn = false;
        if (taken.jobs.empty() || taken.running >= running_per_key_) {
            publish();
            continue;
        }
        auto [job, kind] = std::move(taken.jobs.front());
        taken.jobs.pop_front();
        --(kind == standing::proven ? queued_proven_ : queued_unproven_);
        ++taken.running;
        if (kind == standing::unproven) ++running_unproven_;
        // Its next job waits behind every other key's.
        (void)offer_turn(key, taken);
        publish();
        // Turns left over go to another worker while this one runs its job.
        const bool wake = may_take() && watching_.load() == 0;
        lock.unlock();
        if (wake) has_work_.notify_one();
        run_logged("request handler", job);
        job = nullptr;  // what the job held goes before the lane is touched again
        lock.lock();
        lane& done = lanes_[key];
        --done.running;
        --pending_;
        if (kind == standing::unproven) --running_unproven_;
        // This worker looks at the turns again at once: waking another one for this
        // turn would only switch threads, once per request.
        (void)offer_turn(key, done);
        publish();
        if (done.jobs.empty() && done.running == 0 && !done.in_turn) lanes_.erase(key);
    }
}

}  // namespace vandrel
