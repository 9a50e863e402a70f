// The output lines of a mesk program under test, each taken once: a line passed over
// while waiting for another stays for a later wait, so replies and events may come in
// either order.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"
#include "tests/support/child_process.h"

namespace vandrel::testing {

class OutputLines {
public:
    explicit OutputLines(ChildProcess& child) : child_(child) {}

    // The first line, waiting or new, that `wanted` accepts within the limit.
    std::optional<std::string> take(const std::function<bool(const std::string&)>& wanted,
                                    std::chrono::milliseconds limit = std::chrono::seconds(30));
    // The reply text to the endpoint; nothing when none came.
    std::optional<std::string> reply_text(const std::string& endpoint);
    // The parsed reply to the endpoint; null when none came.
    Json reply(const std::string& endpoint);
    // The next event with that action within the limit; null when none came.
    Json event(const std::string& action, std::chrono::milliseconds limit = std::chrono::seconds(30));

    static Json parse(const std::string& text);

private:
    ChildProcess& child_;
    std::vector<std::string> backlog_;
};

}  // namespace vandrel::testing
