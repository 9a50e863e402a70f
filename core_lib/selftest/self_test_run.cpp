#include "core_lib/selftest/self_test_run.h"

#include <exception>
#include <thread>

#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/api_origin.h"
#include "core_lib/net/net_state.h"

namespace vandrel {

namespace {

constexpr auto poll_interval = std::chrono::milliseconds(20);

}  // namespace

bool self_test_run::stopping() const { return stop_requested.load() || core_stopping(); }

bool self_test_run::wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (done()) return true;
        if (stopping() || std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(poll_interval);
    }
}

std::string self_test_call_text(const std::string& endpoint, const Json& body) {
    return handle_api_request(endpoint, body.is_null() ? std::string() : body.dump(), origin_test);
}

Json self_test_call(const std::string& endpoint, const Json& body) {
    std::string parse_error;
    return Json::parse(self_test_call_text(endpoint, body), parse_error);
}

void check_assertions_work(self_test_report& report) {
    report.assert_equals("info", "assert_equals works", "hello test", "hello test");
    report.assert_true("info", "assert_true works", true);
}

void run_guarded(self_test_run& run, const std::string& category, const std::function<void()>& checks) {
    if (run.stopping()) return;
    try {
        checks();
    } catch (const std::exception& e) {
        run.report.assert_equals(category, "check raised an error", "no error", e.what());
    } catch (...) {
        run.report.assert_equals(category, "check raised an error", "no error", "unknown error");
    }
}

}  // namespace vandrel
