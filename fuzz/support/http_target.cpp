#include "fuzz/support/http_target.h"

#include "core_lib/foundation/text_utils.h"
#include "fuzz/support/fuzz_check.h"
#include "fuzz/support/fuzz_core.h"
#include "fuzz/support/raw_exchange.h"

namespace vandrel::fuzzing {

std::string serve_raw_request(const std::string& source, const std::string& host, std::uint16_t port,
                              const std::string& bytes) {
    std::string answer = raw_exchange(source, host, port, bytes);
    if (!answer.empty() && !starts_with(answer, "HTTP/1.")) {
        property_broken("an answer that is not HTTP: " + answer.substr(0, 64));
    }
    fuzz_core::get().settle();
    return answer;
}

}  // namespace vandrel::fuzzing
