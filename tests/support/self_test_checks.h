// What tests of the built-in self test expect of its checks in this build.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel::testing {

// Whether the check (an "append_test" record) must pass here. The two checks that time
// a request over the loop-back (under 100 ms) measure the build itself: a sanitizer
// makes it 5-15 times slower, so there they may miss their limit on a busy machine.
inline bool must_pass_here(const Json& check) {
#ifdef MESK_SANITIZED
    return check["label"].string_value().find("takes less than 100 milliseconds") == std::string::npos;
#else
    (void)check;
    return true;
#endif
}

}  // namespace vandrel::testing
