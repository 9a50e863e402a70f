// Dispatcher: the job queue that stands in for the interface thread. RunAsync posts a
// job and never blocks; whoever drains the queue runs the jobs, High before Normal and
// in posting order within a priority. A job that throws is caught and logged.
// Thread-safe. Always shared-owned (create()), so a captured dispatcher stays valid.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace vandrel {

enum class DispatchPriority { Normal, High };

class Dispatcher : public std::enable_shared_from_this<Dispatcher> {
public:
    using Job = std::function<void()>;

    static std::shared_ptr<Dispatcher> create();

    Dispatcher(const Dispatcher&) = delete;
    Dispatcher& operator=(const Dispatcher&) = delete;

    // Queues the job; returns at once. Jobs posted after stop() stay queued for drain().
    void RunAsync(DispatchPriority priority, Job job);

    // Runs the next job on the calling thread; false when the queue was empty.
    bool run_one();
    // Runs jobs until the queue is empty, jobs posted meanwhile included; the count run.
    std::size_t drain();
    // Runs jobs as they come until stop(); returns at once when stop() came first.
    void run_until_stopped();
    void stop();

    std::size_t pending() const;

    // The dispatcher the calling thread is running (inside run_one, drain or
    // run_until_stopped) or has bound with CurrentDispatcherScope; null when none.
    static std::shared_ptr<Dispatcher> current();

private:
    Dispatcher() = default;
    // Takes the next job under the lock; false when there is none.
    bool take_next(Job& job);
    void run_job(Job& job);

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> high_;
    std::deque<Job> normal_;
    bool stopped_ = false;
};

// Binds a dispatcher to the calling thread for the scope's life (the host's main thread
// before it runs its loop, a test's thread); restores the previous binding afterwards.
class CurrentDispatcherScope {
public:
    explicit CurrentDispatcherScope(std::shared_ptr<Dispatcher> dispatcher);
    ~CurrentDispatcherScope();
    CurrentDispatcherScope(const CurrentDispatcherScope&) = delete;
    CurrentDispatcherScope& operator=(const CurrentDispatcherScope&) = delete;

private:
    std::shared_ptr<Dispatcher> dispatcher_;
    Dispatcher* previous_;
};

}  // namespace vandrel
