#include "core_lib/selftest/self_test_runner.h"

#include <exception>
#include <iostream>
#include <utility>

#include "core_lib/foundation/named_thread.h"
#include "core_lib/selftest/self_test_footprint.h"
#include "core_lib/selftest/self_test_run.h"

namespace vandrel {

self_test_runner::self_test_runner(self_test_fault fault) : fault_(std::move(fault)) {}

self_test_runner::~self_test_runner() { stop(); }

bool self_test_runner::start() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (running_ || stopped_) return false;
    // The last run has ended: its thread only returns.
    if (thread_.joinable()) thread_.join();
    self_test_report report(fault_);
    try {
        check_assertions_work(report);
    } catch (const std::exception& e) {
        std::cerr << "self test: " << e.what() << "\n";
    }
    running_ = true;
    try {
        thread_ = start_thread("mesk-self-test", [this] { run(); });
    } catch (...) {
        running_ = false;
        throw;
    }
    return true;
}

void self_test_runner::stop() {
    std::thread ending;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        ending = std::move(thread_);
    }
    stop_requested_ = true;
    if (ending.joinable()) ending.join();
}

void self_test_runner::run() {
    // However the run ends, the next one may start.
    struct run_end {
        self_test_runner& runner;
        ~run_end() {
            std::lock_guard<std::mutex> lock(runner.mutex_);
            runner.running_ = false;
        }
    } end{*this};
    self_test_report report(fault_);
    self_test_footprint footprint;
    self_test_run checks{report, footprint, stop_requested_};
    bool noted = false;
    // Nothing is changed before what it changes is noted; without that note nothing runs.
    run_guarded(checks, "info", [&] {
        footprint.take_snapshot();
        noted = true;
    });
    if (noted) {
        run_local_checks(checks);
        run_api_checks(checks);
        run_loopback_checks(checks);
        try {
            footprint.restore();
        } catch (const std::exception& e) {
            report.assert_equals("info", "test data restored", "no error", e.what());
        }
    }
    if (!checks.stopping()) {
        try {
            report.assert_equals("info", "tests finished", "the_end", "the_end");
        } catch (const std::exception& e) {
            std::cerr << "self test: " << e.what() << "\n";
        }
    }
}

}  // namespace vandrel
