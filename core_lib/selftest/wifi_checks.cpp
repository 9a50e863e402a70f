#include "core_lib/selftest/wifi_checks.h"

namespace vandrel {

void check_wifi_value(self_test_report& report, const std::string& category, const std::string& label,
                      const std::string& value, const std::string& other) {
    if (value.empty() && other.empty()) {
        report.assert_equals(category, label, no_wifi_connection, no_wifi_connection);
        return;
    }
    report.assert_not_empty(category, label, value);
}

}  // namespace vandrel
