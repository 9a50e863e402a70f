#include "core_lib/net/service_threads.h"

#include "core_lib/foundation/named_thread.h"

namespace vandrel {

void service_threads::start(std::string name, std::function<void()> body) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping()) return;
    threads_.push_back(start_thread(std::move(name), std::move(body)));
}

bool service_threads::sleep_for(std::chrono::milliseconds period) {
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait_for(lock, period, [this] { return stopping(); });
    return !stopping();
}

void service_threads::request_stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_.store(true, std::memory_order_release);
    }
    wake_.notify_all();
}

void service_threads::stop() {
    request_stop();
    std::vector<std::thread> joining;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        joining.swap(threads_);
    }
    for (std::thread& thread : joining) {
        if (thread.joinable()) thread.join();
    }
}

}  // namespace vandrel
