#include "core_lib/selftest/self_test_report.h"

#include <stdexcept>

#include "core_lib/foundation/json.h"
#include "core_lib/platform/ui_event_channel.h"

namespace vandrel {

std::string append_test_text(const std::string& type, const std::string& category, const std::string& label,
                             const std::string& expected, const std::string& actual, bool passed) {
    return Json(Json::object{{"action", "append_test"},
                             {"test", Json::object{{"type", type},
                                                   {"label", label},
                                                   {"category", category},
                                                   {"expected", expected},
                                                   {"actual", actual},
                                                   {"passed", passed}}}})
        .dump();
}

void self_test_report::post(const char* type, const std::string& category, const std::string& label,
                            const std::string& expected, const std::string& actual, bool passed) {
    if (!fault_.fail_label.empty() && label == fault_.fail_label) passed = false;
    send_to_ui(append_test_text(type, category, label, expected, actual, passed));
    if (!fault_.throw_after_label.empty() && label == fault_.throw_after_label) {
        throw std::runtime_error("fault made on purpose after \"" + label + "\"");
    }
}

void self_test_report::assert_equals(const std::string& category, const std::string& label, const std::string& expected,
                                     const std::string& actual) {
    post("assert_equals", category, label, expected, actual, expected == actual);
}

void self_test_report::assert_equals(const std::string& category, const std::string& label, std::int64_t expected,
                                     std::int64_t actual) {
    assert_equals(category, label, std::to_string(expected), std::to_string(actual));
}

void self_test_report::assert_true(const std::string& category, const std::string& label, bool condition) {
    post("assert_true", category, label, "true", "false", condition);
}

void self_test_report::assert_less_than(const std::string& category, const std::string& label, std::uint64_t limit,
                                        std::uint64_t value) {
    post("assert_less_than", category, label, "<" + std::to_string(limit), std::to_string(value), value < limit);
}

void self_test_report::assert_not_empty(const std::string& category, const std::string& label,
                                        const std::string& value) {
    post("assert_not_empty", category, label, "not empty", "empty", !value.empty());
}

}  // namespace vandrel
