#include "core_lib/net/http/io_manager.h"

#include <algorithm>
#include <exception>
#include <iostream>
#include <optional>

#include "core_lib/foundation/named_thread.h"
#include "core_lib/foundation/run_logged.h"

namespace vandrel {

namespace {

// After a burst of work a thread keeps polling this long before it sleeps: an answer
// handed back from a worker then finds it awake.
constexpr std::chrono::microseconds watch_time{50};

// Runs the context's handlers until `until` (never when it is nullopt) or the context
// stops, polling for a while after each handler before blocking.
void run_watching(boost::asio::io_context& io, std::optional<std::chrono::steady_clock::time_point> until) {
    using clock = std::chrono::steady_clock;
    auto last_work = clock::now();
    while (!io.stopped()) {
        const auto now = clock::now();
        if (until && now >= *until) return;
        if (io.poll() > 0) {
            last_work = clock::now();
            continue;
        }
        if (clock::now() - last_work < watch_time) continue;
        const std::size_t ran = until ? io.run_one_until(*until) : io.run_one();
        if (ran > 0) last_work = clock::now();
    }
}

}  // namespace

io_manager::io_manager(std::string name_, std::chrono::milliseconds poll_interval_, unsigned thread_count,
                       const std::string& thread_name)
    : name(std::move(name_)), poll_interval(poll_interval_) {
    const unsigned count = std::max(thread_count, 1U);
    work.push_back(boost::asio::make_work_guard(io));
    for (unsigned i = 1; i < count; ++i) {
        // Each of these contexts is run by one thread only.
        others.push_back(std::make_unique<boost::asio::io_context>(1));
        work.push_back(boost::asio::make_work_guard(*others.back()));
    }
    threads.reserve(count);
    try {
        threads.push_back(start_thread(numbered_thread_name(thread_name, 1), [this] { loop(); }));
        for (auto& context : others) {
            const auto number = static_cast<unsigned>(threads.size() + 1);
            threads.push_back(
                start_thread(numbered_thread_name(thread_name, number), [this, &mine = *context] { serve(mine); }));
        }
    } catch (...) {
        stop();
        throw;
    }
}

boost::asio::io_context& io_manager::next_context() {
    const std::size_t n = turn.fetch_add(1, std::memory_order_relaxed) % (others.size() + 1);
    return n == 0 ? io : *others[n - 1];
}

io_manager::~io_manager() {
    stop();
    // The threads have ended: nothing else touches the kept objects now. Release them
    // before the io_context goes, so their sockets close against a live context.
    std::vector<std::shared_ptr<void>> released;
    {
        std::lock_guard<std::mutex> lock(mutex);
        released.swap(kept);
        checks.clear();
    }
    released.clear();
}

void io_manager::add_poll_check(std::function<void()> check) {
    std::lock_guard<std::mutex> lock(mutex);
    checks.push_back(std::move(check));
}

void io_manager::keep(std::shared_ptr<void> object) {
    std::lock_guard<std::mutex> lock(mutex);
    kept.push_back(std::move(object));
}

void io_manager::add_stop_hook(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(mutex);
    stop_hooks.push_back(std::move(hook));
}

void io_manager::stop() {
    std::vector<std::function<void()>> hooks;
    {
        std::lock_guard<std::mutex> lock(mutex);
        hooks.swap(stop_hooks);
    }
    for (auto& hook : hooks) run_logged(name + ": stop", hook);
    stopping = true;
    io.stop();
    for (auto& context : others) context->stop();
    for (std::thread& thread : threads) {
        if (thread.joinable()) thread.join();
    }
}

bool io_manager::on_manager_thread() const {
    const auto me = std::this_thread::get_id();
    return std::any_of(threads.begin(), threads.end(), [me](const std::thread& t) { return t.get_id() == me; });
}

void io_manager::run_logged_slice(const std::function<void()>& slice) {
    try {
        slice();
    } catch (const std::exception& e) {
        // A handler threw; the context stays usable and the loop goes on.
        std::cerr << name << ": handler failed: " << e.what() << "\n";
    } catch (...) {
        std::cerr << name << ": handler failed\n";
    }
}

void io_manager::loop() {
    while (!stopping) {
        std::vector<std::function<void()>> current;
        {
            std::lock_guard<std::mutex> lock(mutex);
            current = checks;
        }
        for (auto& check : current) {
            try {
                check();
            } catch (const std::exception& e) {
                std::cerr << name << ": poll check failed: " << e.what() << "\n";
            } catch (...) {
                std::cerr << name << ": poll check failed\n";
            }
        }
        if (stopping) break;
        run_logged_slice([this] { run_watching(io, std::chrono::steady_clock::now() + poll_interval); });
    }
}

void io_manager::serve(boost::asio::io_context& mine) {
    // run() returns only when the context stops (the work guard keeps it busy) or a
    // handler throws; then the loop goes on unless stopping.
    while (!stopping && !mine.stopped()) run_logged_slice([&mine] { run_watching(mine, std::nullopt); });
}

unsigned server_io_threads() {
    const unsigned cores = std::thread::hardware_concurrency();
    return std::clamp(cores, 1U, 4U);
}

}  // namespace vandrel
