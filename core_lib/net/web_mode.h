// Web-share mode switch: web_mode_state ("unknown" at start, "1" while on, "0" after
// it was switched off) and web_mode_thread, the marker of the running server thread.
// The marker holds the started thread's generation (0 for none), so a loop that was
// replaced by a newer start ends even if the state reads "1" again. Thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel {

std::string get_web_mode_state();
void set_web_mode_state(std::string state);

// 0 when no server thread is marked as started.
std::uint64_t get_web_mode_thread();
void clear_web_mode_thread();

// Logs "starting web mode" and starts the server thread unless one is marked already.
void start_web_mode();

// Body of the web-share server thread of the given generation: runs while the state is
// "1" and the marker still names it, then clears the marker if it still names it.
void run_web_mode_server(std::uint64_t generation);

}  // namespace vandrel
