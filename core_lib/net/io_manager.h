// io_manager: one io_context run by one thread of its own. The thread loops: the
// per-poll checks, then run_for(poll interval). Objects handed to keep() (servers and
// the like) live until the thread has ended and go before the io_context does. The
// destructor stops and joins the thread; production managers are never destroyed.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

namespace vandrel {

class io_manager {
public:
    // `name` only labels log lines. The thread starts at once.
    explicit io_manager(std::string name, std::chrono::milliseconds poll_interval = std::chrono::milliseconds(50));
    ~io_manager();

    io_manager(const io_manager&) = delete;
    io_manager& operator=(const io_manager&) = delete;

    boost::asio::io_context& context() { return io; }

    // Runs on the manager's thread before every slice of run_for; may be added from any
    // thread. An exception from a check is logged and the loop goes on.
    void add_poll_check(std::function<void()> check);

    // Keeps the object alive until the manager's thread has ended.
    void keep(std::shared_ptr<void> object);

    // Runs once at stop(), before the loop ends (in the order added): workers that
    // answer for this manager's connections end there.
    void add_stop_hook(std::function<void()> hook);

    // Stops the loop and joins the thread; a second call does nothing. Must not be called
    // from the manager's own thread.
    void stop();

    bool on_manager_thread() const { return std::this_thread::get_id() == thread.get_id(); }

private:
    void loop();

    // Declared first so that it is destroyed last: kept objects and pending handlers
    // hold sockets of this context.
    boost::asio::io_context io;
    boost::asio::executor_work_guard<boost::asio::io_context::executor_type> work;
    std::string name;
    std::chrono::milliseconds poll_interval;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::vector<std::function<void()>> checks;
    std::vector<std::function<void()>> stop_hooks;
    std::vector<std::shared_ptr<void>> kept;
    std::thread thread;
};

}  // namespace vandrel
