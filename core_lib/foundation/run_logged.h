// Runs the body of a thread or a background job so that nothing it throws escapes:
// the exception is logged on standard error under the given name.
#pragma once

#include <functional>
#include <string>

namespace vandrel {

void run_logged(const std::string& name, const std::function<void()>& body) noexcept;

}  // namespace vandrel
