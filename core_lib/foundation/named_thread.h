// start_thread: the one way the core starts a thread. The thread carries its name (cut to
// the 15 bytes the kernel keeps) so that top -H, perf and gdb tell the loops apart, and
// runs its body under run_logged, so nothing it throws escapes.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace vandrel {

// Longest thread name the kernel keeps.
inline constexpr std::size_t thread_name_limit = 15;

// "BASE-N" within the limit: the base is cut, never the number.
std::string numbered_thread_name(const std::string& base, unsigned number);

// Throws std::system_error when no thread can be started.
std::thread start_thread(std::string name, std::function<void()> body);

}  // namespace vandrel
