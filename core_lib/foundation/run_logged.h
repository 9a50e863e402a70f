// Runs the body of a thread or a background job, or one pass of a service loop, so
// that nothing it throws escapes: the exception is logged on standard error under the
// given name ("NAME failed: WHAT") and the result is false.
#pragma once

#include <functional>
#include <string>

namespace vandrel {

bool run_logged(const std::string& name, const std::function<void()>& body) noexcept;

}  // namespace vandrel
