// The checks of the Wi-Fi network's name and access point. On Linux a device with no
// Wi-Fi connection has neither (DESIGN's platform table): such a check then reports
// what it found rather than a failure; a device with one must show both.
#pragma once

#include <string>

#include "core_lib/selftest/self_test_report.h"

namespace vandrel {

inline const std::string no_wifi_connection = "no Wi-Fi connection";

// `value` is the text checked, `other` the other half of the same connection (the
// access point for a name, the name for an access point).
void check_wifi_value(self_test_report& report, const std::string& category, const std::string& label,
                      const std::string& value, const std::string& other);

}  // namespace vandrel
