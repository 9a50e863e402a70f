// io_manager: io_contexts run by threads of their own, one context per thread (one of
// each unless asked for more). The first thread loops: the per-poll checks, then the
// first context's handlers for a poll interval; the others only run handlers of theirs.
// A thread polls its context for a few tens of microseconds after each handler before it
// sleeps, so work handed to it on a busy server does not wait for a wake-up.
// A connection placed on next_context() has all its handlers on that one thread, so
// they never run at once, while connections spread over the threads. Objects handed to
// keep() (servers and the like) live until every thread has ended and go before the
// contexts do. The destructor stops and joins the threads; production managers are
// never destroyed.
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
    // `name` only labels log lines; the threads are named `thread_name`-1, -2, ... They
    // start at once; `threads` of 0 counts as 1.
    explicit io_manager(std::string name, std::chrono::milliseconds poll_interval = std::chrono::milliseconds(50),
                        unsigned threads = 1, const std::string& thread_name = "mesk-io");
    ~io_manager();

    io_manager(const io_manager&) = delete;
    io_manager& operator=(const io_manager&) = delete;

    // The first context: the listeners, timers and the poll checks' work.
    boost::asio::io_context& context() { return io; }
    // The contexts in turn, for new connections; the first one when there is one thread.
    boost::asio::io_context& next_context();

    // Runs on the manager's first thread before every slice of run_for; may be added
    // from any thread. An exception from a check is logged and the loop goes on.
    void add_poll_check(std::function<void()> check);

    // Keeps the object alive until the manager's threads have ended.
    void keep(std::shared_ptr<void> object);

    // Runs once at stop(), before the loop ends (in the order added): workers that
    // answer for this manager's connections end there.
    void add_stop_hook(std::function<void()> hook);

    // Stops the loop and joins every thread; a second call does nothing. Must not be
    // called from one of the manager's own threads.
    void stop();

    bool on_manager_thread() const;
    std::size_t thread_count() const { return threads.size(); }

private:
    using work_guard = boost::asio::executor_work_guard<boost::asio::io_context::executor_type>;
    void loop();
    // A thread beside the first one: the handlers of its context, until stop.
    void serve(boost::asio::io_context& mine);
    void run_logged_slice(const std::function<void()>& slice);

    // Declared first so that they are destroyed last: kept objects and pending handlers
    // hold sockets of these contexts. The first context goes before the others: its
    // pending accept holds a socket of one of them.
    std::vector<std::unique_ptr<boost::asio::io_context>> others;
    boost::asio::io_context io;
    std::vector<work_guard> work;
    std::atomic<std::size_t> turn{0};
    std::string name;
    std::chrono::milliseconds poll_interval;
    std::atomic<bool> stopping{false};
    std::mutex mutex;
    std::vector<std::function<void()>> checks;
    std::vector<std::function<void()>> stop_hooks;
    std::vector<std::shared_ptr<void>> kept;
    std::vector<std::thread> threads;
};

// The threads of a server's manager: the machine's cores, at most four, at least one.
unsigned server_io_threads();

}  // namespace vandrel
