#include "MeskRuntimeComponent/dispatcher.h"

#include <exception>
#include <iostream>
#include <utility>

namespace vandrel {

namespace {
// Raw pointer: whoever sets it (a scope or a running dispatcher) keeps the object alive.
thread_local Dispatcher* thread_dispatcher = nullptr;
}  // namespace

std::shared_ptr<Dispatcher> Dispatcher::create() { return std::shared_ptr<Dispatcher>(new Dispatcher()); }

void Dispatcher::RunAsync(DispatchPriority priority, Job job) {
    if (!job) return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        (priority == DispatchPriority::High ? high_ : normal_).push_back(std::move(job));
    }
    wake_.notify_one();
}

bool Dispatcher::take_next(Job& job) {
    auto& queue = !high_.empty() ? high_ : normal_;
    if (queue.empty()) return false;
    job = std::move(queue.front());
    queue.pop_front();
    return true;
}

void Dispatcher::run_job(Job& job) {
    CurrentDispatcherScope scope(shared_from_this());
    try {
        job();
    } catch (const std::exception& e) {
        std::cerr << "dispatcher: job failed: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "dispatcher: job failed with an unknown error\n";
    }
}

bool Dispatcher::run_one() {
    Job job;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!take_next(job)) return false;
    }
    run_job(job);
    return true;
}

std::size_t Dispatcher::drain() {
    std::size_t count = 0;
    while (run_one()) ++count;
    return count;
}

void Dispatcher::run_until_stopped() {
    for (;;) {
        Job job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [&] { return stopped_ || !high_.empty() || !normal_.empty(); });
            if (stopped_) return;
            take_next(job);
        }
        run_job(job);
    }
}

void Dispatcher::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    wake_.notify_all();
}

std::size_t Dispatcher::pending() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return high_.size() + normal_.size();
}

std::shared_ptr<Dispatcher> Dispatcher::current() {
    return thread_dispatcher ? thread_dispatcher->shared_from_this() : nullptr;
}

CurrentDispatcherScope::CurrentDispatcherScope(std::shared_ptr<Dispatcher> dispatcher)
    : dispatcher_(std::move(dispatcher)), previous_(thread_dispatcher) {
    thread_dispatcher = dispatcher_.get();
}

CurrentDispatcherScope::~CurrentDispatcherScope() { thread_dispatcher = previous_; }

}  // namespace vandrel
