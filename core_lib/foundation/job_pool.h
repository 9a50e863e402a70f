// job_pool: a fixed number of workers over a bounded queue of named jobs, the one way
// the core runs work in the background. A job that throws is logged and dropped.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vandrel {

// A fixed number of workers over a bounded queue of named jobs. stop() lets the
// workers finish every job already queued, then joins them; later jobs are refused.
class job_pool {
public:
    // The workers' threads are named `thread_name`-1, -2, ...
    job_pool(unsigned workers, std::size_t queue_limit, const std::string& thread_name = "mesk-jobs");
    ~job_pool() { stop(); }
    job_pool(const job_pool&) = delete;
    job_pool& operator=(const job_pool&) = delete;

    // Takes the job (moving from both arguments) unless the queue is full or the pool
    // stopped; false then, and the arguments are left as they were.
    bool push(std::string& name, std::function<void()>& job);
    // Waits until no job is queued or running; false when the timeout passed first.
    bool wait_idle(std::chrono::milliseconds timeout);
    void stop();
    unsigned worker_count() const { return static_cast<unsigned>(workers_.size()); }

private:
    struct named_job {
        std::string name;
        std::function<void()> body;
    };
    void work();

    const std::size_t queue_limit_;
    std::mutex mutex_;
    std::condition_variable has_work_;
    std::condition_variable idle_;
    std::deque<named_job> queue_;
    std::size_t unfinished_ = 0;  // queued plus running
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

}  // namespace vandrel
