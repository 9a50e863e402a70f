// The built-in self test's runner, owned by the core: start() begins one run on a thread
// of its own (one run at a time), which goes through the checks in their fixed order
// against the live core, restores what it changed and ends with the check "tests
// finished". stop() (also run by the destructor) makes a run under way skip the checks
// left, restore, and end; then it joins the thread.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "core_lib/selftest/self_test_report.h"

namespace vandrel {

class self_test_runner {
public:
    explicit self_test_runner(self_test_fault fault = {});
    ~self_test_runner();
    self_test_runner(const self_test_runner&) = delete;
    self_test_runner& operator=(const self_test_runner&) = delete;

    // Posts the first two checks and starts a run; false, and nothing posted or
    // started, while a run is going or once stopped.
    bool start();
    void stop();

private:
    void run();

    const self_test_fault fault_;
    std::atomic<bool> stop_requested_{false};
    std::mutex mutex_;
    bool running_ = false;  // guarded by mutex_
    bool stopped_ = false;  // guarded by mutex_
    std::thread thread_;    // guarded by mutex_
};

}  // namespace vandrel
