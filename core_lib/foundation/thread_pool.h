// ThreadPool: a fixed number of workers running queued jobs first in, first out, each
// job's result or exception handed back through its future. The destructor runs every
// job already queued, then joins the workers; it must not run on one of them.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

#include "core_lib/foundation/named_thread.h"

namespace vandrel {

class ThreadPool {
public:
    // The workers' threads are named `thread_name`-1, -2, ...
    explicit ThreadPool(unsigned worker_count, const std::string& thread_name = "mesk-pool") {
        workers.reserve(worker_count);
        try {
            for (unsigned i = 0; i < worker_count; ++i) {
                workers.push_back(start_thread(numbered_thread_name(thread_name, i + 1), [this] { work(); }));
            }
        } catch (...) {
            // Workers already started must not outlive a pool that never came to be.
            shut_down();
            throw;
        }
    }

    ThreadPool(const ThreadPool&) = delete;
    ThreadPool& operator=(const ThreadPool&) = delete;

    // Throws std::runtime_error "enqueue on stopped ThreadPool" once destruction began.
    template <class F, class... Args>
    auto enqueue(F&& f, Args&&... args) -> std::future<std::invoke_result_t<std::decay_t<F>, std::decay_t<Args>...>> {
        using result_type = std::invoke_result_t<std::decay_t<F>, std::decay_t<Args>...>;
        auto task = std::make_shared<std::packaged_task<result_type()>>(
            [f = std::forward<F>(f), ... args = std::forward<Args>(args)]() mutable -> result_type {
                return std::invoke(std::move(f), std::move(args)...);
            });
        std::future<result_type> result = task->get_future();
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            if (stop) throw std::runtime_error("enqueue on stopped ThreadPool");
            tasks.emplace_back([task] { (*task)(); });
        }
        condition.notify_one();
        return result;
    }

    ~ThreadPool() { shut_down(); }

private:
    void shut_down() {
        {
            std::lock_guard<std::mutex> lock(queue_mutex);
            stop = true;
        }
        condition.notify_all();
        for (std::thread& worker : workers) worker.join();
    }

    void work() {
        for (;;) {
            std::function<void()> job;
            {
                std::unique_lock<std::mutex> lock(queue_mutex);
                condition.wait(lock, [this] { return stop || !tasks.empty(); });
                if (stop && tasks.empty()) return;
                job = std::move(tasks.front());
                tasks.pop_front();
            }
            // The packaged task keeps a job's exception in its future.
            job();
        }
    }

    std::vector<std::thread> workers;
    std::deque<std::function<void()>> tasks;
    std::mutex queue_mutex;
    std::condition_variable condition;
    bool stop = false;
};

}  // namespace vandrel
