#include "core_lib/api/background_jobs.h"

#include <iostream>

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

bool wait_for_background_jobs(std::chrono::milliseconds timeout) {
    api_state& api = current_api::get();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    // A request may start a job and a job may post a request: wait until both rest.
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        if (!api.requests.wait_idle(left) || !api.jobs.wait_idle(left)) return false;
        if (api.requests.wait_idle(std::chrono::milliseconds(0))) return true;
    }
}

unsigned background_worker_count() { return current_api::get().jobs.worker_count(); }

}  // namespace vandrel
