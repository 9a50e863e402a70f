// "/run_tests": the interface starts the built-in self test. Only the interface may: any
// other origin, the self test's own included, is refused ("forbidden"). The run goes on
// its own thread and reports through "append_test" events; the reply is an empty text
// once it started, and {"error_code": "tests_running"} while a run is going, which
// starts nothing.
#pragma once

#include <string>

#include "core_lib/foundation/json.h"

namespace vandrel {

std::string handle_run_tests(Json params, std::string origin);

}  // namespace vandrel
