#include "core_lib/net/io_manager.h"

#include <exception>
#include <iostream>

#include "core_lib/foundation/run_logged.h"

namespace vandrel {

io_manager::io_manager(std::string name_, std::chrono::milliseconds poll_interval_)
    : work(boost::asio::make_work_guard(io)),
      name(std::move(name_)),
      poll_interval(poll_interval_),
      thread([this] { loop(); }) {}

io_manager::~io_manager() {
    stop();
    // The thread has ended: nothing else touches the kept objects now. Release them
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
    if (thread.joinable()) thread.join();
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
        try {
            io.run_for(poll_interval);
        } catch (const std::exception& e) {
            // A handler threw; the context stays usable and the loop goes on.
            std::cerr << name << ": handler failed: " << e.what() << "\n";
        } catch (...) {
            std::cerr << name << ": handler failed\n";
        }
    }
}

}  // namespace vandrel
