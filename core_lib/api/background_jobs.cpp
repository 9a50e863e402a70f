#include "core_lib/api/background_jobs.h"

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <iostream>
#include <mutex>
#include <thread>
#include <utility>

namespace vandrel {

namespace {

constexpr unsigned worker_count = 4;
constexpr std::size_t queue_limit = 1024;

struct named_job {
    std::string name;
    std::function<void()> body;
};

void run_logged(const named_job& job) noexcept {
    try {
        job.body();
    } catch (const std::exception& e) {
        std::cerr << "background job " << job.name << " failed: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "background job " << job.name << " failed: unknown error\n";
    }
}

// Workers are started on first use and live for the process: the pool is never
// destroyed, so no worker is joined while static objects are torn down at exit.
class job_pool {
public:
    job_pool() {
        for (unsigned i = 0; i < worker_count; ++i) std::thread([this] { work(); }).detach();
    }

    // False when the queue is full.
    bool push(named_job& job) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (queue.size() >= queue_limit) return false;
            queue.push_back(std::move(job));
            ++unfinished;
        }
        has_work.notify_one();
        return true;
    }

    bool wait_idle(std::chrono::milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex);
        return idle.wait_for(lock, timeout, [this] { return unfinished == 0; });
    }

private:
    void work() {
        for (;;) {
            named_job job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                has_work.wait(lock, [this] { return !queue.empty(); });
                job = std::move(queue.front());
                queue.pop_front();
            }
            run_logged(job);
            job = named_job{};  // let go of what the job held before reporting done
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (--unfinished == 0) idle.notify_all();
            }
        }
    }

    std::mutex mutex;
    std::condition_variable has_work;
    std::condition_variable idle;
    std::deque<named_job> queue;
    std::size_t unfinished = 0;  // queued plus running
};

job_pool& pool() {
    static job_pool* const instance = new job_pool();
    return *instance;
}

}  // namespace

void start_background_job(std::string name, std::function<void()> job) {
    named_job item{std::move(name), std::move(job)};
    if (!pool().push(item)) run_logged(item);
}

bool wait_for_background_jobs(std::chrono::milliseconds timeout) { return pool().wait_idle(timeout); }

unsigned background_worker_count() { return worker_count; }

}  // namespace vandrel
