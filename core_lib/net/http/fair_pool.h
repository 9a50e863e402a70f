// fair_pool: the workers that run a server's request handlers, off its network thread.
// Jobs queue under a key (the peer's address); workers take the keys in turn, and one
// key never has more than `running_per_key` jobs running at once, so one peer can
// neither fill the workers nor keep another peer's request waiting behind its own.
// stop() drops what is queued, waits for what runs and joins the workers. A worker with
// nothing to do watches for a turn a few tens of microseconds before it sleeps, so a
// busy server's requests rarely wait for a thread to be woken.
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
#include <vector>

namespace vandrel {

class fair_pool {
public:
    // The workers' threads are named `thread_name`-1, -2, ...
    fair_pool(unsigned workers, unsigned running_per_key, const std::string& thread_name = "mesk-http-wk");
    ~fair_pool() { stop(); }
    fair_pool(const fair_pool&) = delete;
    fair_pool& operator=(const fair_pool&) = delete;

    // False once stopped.
    bool submit(const std::string& key, std::function<void()> job);
    void stop();

    // Jobs queued and running, for tests.
    std::size_t pending() const;

private:
    struct lane {
        std::deque<std::function<void()>> jobs;
        unsigned running = 0;
        bool in_turn = false;  // listed in turns_
    };
    void work();
    // Under mutex_: lists the key for a turn when it has a job it may start. True when a
    // sleeping worker should be woken for it (after the lock is released), unless the
    // caller takes the turns itself next.
    bool offer_turn(const std::string& key, lane& l);
    // Outside mutex_: true when a turn may be there, after watching for up to a short while.
    bool watch_for_turn() const;

    const unsigned running_per_key_;
    mutable std::mutex mutex_;
    std::condition_variable has_work_;
    std::map<std::string, lane> lanes_;
    std::deque<std::string> turns_;
    // turns_.size() and the workers watching, read without the lock.
    std::atomic<std::size_t> turns_listed_{0};
    std::atomic<unsigned> watching_{0};
    std::size_t pending_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace vandrel
