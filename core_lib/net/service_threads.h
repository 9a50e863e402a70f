// The long-lived threads of a running core, started by name. Each body runs with its
// exceptions caught and logged. stop() sets the stopping flag that every loop tests,
// wakes every sleep_for, and joins the threads; nothing outlives it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vandrel {

class service_threads {
public:
    service_threads() = default;
    ~service_threads() { stop(); }
    service_threads(const service_threads&) = delete;
    service_threads& operator=(const service_threads&) = delete;

    // Starts the body on a thread of its own, named `name` (see start_thread); nothing
    // once stopping.
    void start(std::string name, std::function<void()> body);

    bool stopping() const { return stopping_.load(std::memory_order_acquire); }

    // Waits for the period, or less when stopping begins; false when stopping.
    bool sleep_for(std::chrono::milliseconds period);

    // Sets the flag and wakes the sleepers, without joining.
    void request_stop();
    // request_stop(), then joins every thread. Must not run on one of them.
    void stop();

private:
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::thread> threads_;
};

}  // namespace vandrel
