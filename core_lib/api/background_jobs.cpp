#include "core_lib/api/background_jobs.h"

#include <condition_variable>
#include <iostream>
#include <memory>
#include <mutex>

#include "core_lib/api/api_state.h"

namespace vandrel {

namespace {

bool push_or_log(job_pool& pool, std::string& name, std::function<void()>& job) {
    if (pool.push(name, job)) return true;
    std::cerr << "busy: " << name << " refused, its queue is full\n";
    return false;
}

}  // namespace

bool start_request_job(std::string name, std::function<void()> job) {
    return push_or_log(current_api::get().requests, name, job);
}

bool start_background_job(std::string name, std::function<void()> job) {
    return push_or_log(current_api::get().jobs, name, job);
}

bool start_chat_job(std::string name, std::function<void()> job) {
    return push_or_log(current_api::get().chats, name, job);
}

bool run_on_chat_lane(std::string name, std::function<void()> job, std::chrono::milliseconds timeout) {
    struct marker {
        std::mutex mutex;
        std::condition_variable reached;
        bool done = false;
    };
    // Set when the job ends, also by an exception.
    struct reached_on_exit {
        std::shared_ptr<marker> mark;
        ~reached_on_exit() {
            std::lock_guard<std::mutex> lock(mark->mutex);
            mark->done = true;
            mark->reached.notify_all();
        }
    };
    auto reached = std::make_shared<marker>();
    if (!start_chat_job(std::move(name), [reached, job = std::move(job)] {
            const reached_on_exit mark{reached};
            if (job) job();
        })) {
        return false;
    }
    std::unique_lock<std::mutex> lock(reached->mutex);
    return reached->reached.wait_for(lock, timeout, [&] { return reached->done; });
}

bool wait_for_chat_lane(std::chrono::milliseconds timeout) {
    // The lane runs its jobs one after another: once this one runs, those before it ran.
    return run_on_chat_lane("chat lane marker", {}, timeout);
}

bool wait_for_background_jobs(std::chrono::milliseconds timeout) {
    api_state& api = current_api::get();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // Requests, chats and jobs start one another: wait until all three rest at once.
    job_pool* const pools[] = {&api.requests, &api.chats, &api.jobs};
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        for (job_pool* pool : pools) {
            if (!pool->wait_idle(left)) return false;
        }
        bool resting = true;
        for (job_pool* pool : pools) resting = resting && pool->wait_idle(std::chrono::milliseconds(0));
        if (resting) return true;
    }
}

unsigned background_worker_count() { return current_api::get().jobs.worker_count(); }

}  // namespace vandrel
