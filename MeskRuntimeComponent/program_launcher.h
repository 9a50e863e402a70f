// Finding and starting the desktop's helper programs (notify-send, xdg-open, wl-copy,
// xclip). Programs are started directly with an argument list, never through a shell,
// detached (nobody waits for them), with standard output sent to standard error so they
// cannot write into the host's protocol lines, and with no descriptor of ours but 0-2.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace vandrel {

struct ProgramLauncher {
    // Full path of an executable program by name, "" when there is none.
    std::function<std::string(const std::string& name)> find_program;
    // Starts argv[0] (a full path) with argv; `input` is its standard input. True when
    // the program was started (not that it succeeded).
    std::function<bool(const std::vector<std::string>& argv, const std::string& input)> start_program;
};

// The first executable `name` in the ":"-separated folder list; "" when none. A name
// holding "/" is never looked up.
std::string find_program_in_path(const std::string& name, const std::string& path_variable);

// Starts the program as a grandchild, so it is never left as a zombie of this process.
bool start_detached(const std::vector<std::string>& argv, const std::string& input);

// find_program_in_path over `path_variable` and start_detached.
ProgramLauncher system_program_launcher(const std::string& path_variable);

}  // namespace vandrel
