// fair_pool: the workers that run a server's request handlers, off its network thread.
// Jobs queue under a key (the peer's address, or its group); workers take the keys in
// turn, and one key never has more than `running_per_key` jobs running at once, so one
// peer can neither fill the workers nor keep another peer's request waiting behind its
// own. A job is proven (its peer has proven its key) or not: proven keys take their turns
// first, jobs that are not proven may hold only a share of the workers, and each kind has
// a bounded queue of its own, so hosts that have proven nothing never keep a proven
// peer's request waiting. stop() drops what is queued, waits for what runs and joins the
// workers. A worker with nothing to do watches for a turn a few tens of microseconds
// before it sleeps, so a busy server's requests rarely wait for a thread to be woken.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace vandrel {

// The queues and the share of unproven jobs; 0 leaves a bound out.
struct fair_pool_bounds {
    std::size_t queued_per_key = 0;
    std::size_t queued_proven = 0;
    std::size_t queued_unproven = 0;
    unsigned running_unproven = 0;  // workers unproven jobs may hold at once
};

class fair_pool {
public:
    enum class standing { proven, unproven };
    using bounds = fair_pool_bounds;

    fair_pool(unsigned workers, unsigned running_per_key, bounds limits = {});
    ~fair_pool() { stop(); }
    fair_pool(const fair_pool&) = delete;
    fair_pool& operator=(const fair_pool&) = delete;

    // False once stopped, or when the job's queue (of its key or its kind) is full.
    bool submit(const std::string& key, std::function<void()> job, standing kind = standing::proven);
    void stop();

    // Jobs queued and running, for tests.
    std::size_t pending() const;

private:
    struct lane {
        std::deque<std::pair<std::function<void()>, standing>> jobs;
        unsigned running = 0;
        bool in_turn = false;  // listed in a turn list
    };
    void work();
    // Under mutex_: lists the key for a turn when it has a job it may start. True when a
    // sleeping worker should be woken for it (after the lock is released), unless the
    // caller takes the turns itself next.
    bool offer_turn(const std::string& key, lane& l);
    // Under mutex_: whether a worker may take a turn now, published for watchers.
    bool may_take() const;
    void publish();
    // Outside mutex_: true when a turn may be there, after watching for up to a short while.
    bool watch_for_turn() const;

    const unsigned running_per_key_;
    const bounds bounds_;
    mutable std::mutex mutex_;
    std::condition_variable has_work_;
    std::map<std::string, lane> lanes_;
    std::deque<std::string> proven_turns_;
    std::deque<std::string> unproven_turns_;
    // Whether a turn may be taken, read without the lock.
    std::atomic<std::size_t> turns_listed_{0};
    std::atomic<unsigned> watching_{0};
    std::size_t pending_ = 0;
    std::size_t queued_proven_ = 0;
    std::size_t queued_unproven_ = 0;
    unsigned running_unproven_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace vandrel
