// The self test's one way out: every check is an assertion that posts one
// {"action": "append_test", "test": {...}} event to the interface while the suite runs,
// and returns. A failed check is only "passed": false; nothing is summed up in the core.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel {

// Tests only: a check made to fail on purpose, and a check after which the suite meets
// an error, so that a run that goes wrong half-way can be watched ending and restoring.
struct self_test_fault {
    std::string fail_label;         // the check of this label reports failure
    std::string throw_after_label;  // after the check of this label, the next step throws
};

// The text of one "append_test" event (keys in byte order, as every event).
std::string append_test_text(const std::string& type, const std::string& category, const std::string& label,
                             const std::string& expected, const std::string& actual, bool passed);

class self_test_report {
public:
    explicit self_test_report(self_test_fault fault = {}) : fault_(std::move(fault)) {}

    // Passes when the texts are equal byte for byte.
    void assert_equals(const std::string& category, const std::string& label, const std::string& expected,
                       const std::string& actual);
    // Both numbers written in signed decimal, then compared as texts.
    void assert_equals(const std::string& category, const std::string& label, std::int64_t expected,
                       std::int64_t actual);
    // "expected" "true", "actual" "false", whatever the condition; it decides "passed".
    void assert_true(const std::string& category, const std::string& label, bool condition);
    // "expected" "<" and the limit, "actual" the value; passes when value < limit.
    void assert_less_than(const std::string& category, const std::string& label, std::uint64_t limit,
                          std::uint64_t value);
    // "expected" "not empty", "actual" "empty", whatever the value; passes when it is not empty.
    void assert_not_empty(const std::string& category, const std::string& label, const std::string& value);

private:
    void post(const char* type, const std::string& category, const std::string& label, const std::string& expected,
              const std::string& actual, bool passed);

    const self_test_fault fault_;
};

}  // namespace vandrel
