#include "core_lib/foundation/job_pool.h"

#include <utility>

#include "core_lib/foundation/named_thread.h"
#include "core_lib/foundation/run_logged.h"

namespace vandrel {

job_pool::job_pool(unsigned workers, std::size_t queue_limit, const std::string& thread_name)
    : queue_limit_(queue_limit) {
    workers_.reserve(workers);
    try {
        for (unsigned i = 0; i < workers; ++i)
            workers_.push_back(start_thread(numbered_thread_name(thread_name, i + 1), [this] { work(); }));
    } catch (...) {
        // Workers already started must not outlive a pool that never came to be.
        stop();
        throw;
    }
}

bool job_pool::push(std::string& name, std::function<void()>& job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_ || queue_.size() >= queue_limit_) return false;
        queue_.push_back({std::move(name), std::move(job)});
        ++unfinished_;
    }
    has_work_.notify_one();
    return true;
}

bool job_pool::wait_idle(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    return idle_.wait_for(lock, timeout, [this] { return unfinished_ == 0; });
}

void job_pool::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    has_work_.notify_all();
    for (std::thread& worker : workers_) {
        if (worker.joinable()) worker.join();
    }
}

void job_pool::work() {
    for (;;) {
        named_job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            has_work_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (queue_.empty()) return;
            job = std::move(queue_.front());
            queue_.pop_front();
        }
        run_logged("background job " + job.name, job.body);
        job = named_job{};  // let go of what the job held before reporting done
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (--unfinished_ == 0) idle_.notify_all();
        }
    }
}

}  // namespace vandrel
