#include "core_lib/api/self_test_handler.h"

#include "core_lib/api/api_origin.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/api/api_state.h"

namespace vandrel {

std::string handle_run_tests(Json, std::string origin) {
    if (origin != origin_from_ui) return reply_error_code(error_forbidden);
    const api_state& api = current_api::get();
    if (!api.start_self_test) return reply_unknown_endpoint("/run_tests");
    return api.start_self_test() ? std::string() : reply_error_code(error_tests_running);
}

}  // namespace vandrel
