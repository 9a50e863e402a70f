// One run of the self test as its checks see it: where they report, what they note for
// restoring, whether the run is being stopped, and the suite's calls of the JSON API.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>

#include "core_lib/foundation/json.h"
#include "core_lib/selftest/self_test_footprint.h"
#include "core_lib/selftest/self_test_report.h"

namespace vandrel {

struct self_test_run {
    self_test_report& report;
    self_test_footprint& footprint;
    const std::atomic<bool>& stop_requested;

    // The run is being stopped (its runner, or the core): the checks that are left are
    // skipped, what was changed is restored.
    bool stopping() const;

    // Polls `done` until it holds; false when the limit passed or the run is being
    // stopped first.
    bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds limit) const;
};

// One request through the dispatcher with the self test's origin "test", the body
// serialised ("" for null): the reply text, and the reply parsed (null when it does not
// parse).
std::string self_test_call_text(const std::string& endpoint, const Json& body = Json());
Json self_test_call(const std::string& endpoint, const Json& body = Json());

// The first two checks of a run ("info"), which a run posts twice: when it is asked
// for, and as its body begins.
void check_assertions_work(self_test_report& report);

// The check groups, in the order a run takes them.
void run_local_checks(self_test_run& run);     // info, string utils, platform, db, settings, datagram
void run_api_checks(self_test_run& run);       // api, api_chats, api_uploads, api_downloads, api new_settings
void run_loopback_checks(self_test_run& run);  // sessions, session, the file transfer passes

// Runs one group of checks; an error it raises is reported as a failed check of its
// category, and the run goes on with the next group.
void run_guarded(self_test_run& run, const std::string& category, const std::function<void()>& checks);

}  // namespace vandrel
