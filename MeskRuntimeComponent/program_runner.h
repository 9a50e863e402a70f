// Running helper programs that answer (nmcli) or that run alongside the process
// (systemd-inhibit). Programs are started directly with an argument list, never through
// a shell, in a process group of their own, with no descriptor of ours but those given
// here, no blocked signals and SIGPIPE at its default.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace vandrel {

struct ProgramRun {
    std::vector<std::string> argv;  // argv[0] is the program's full path
    // "NAME=value" entries set over this process's environment.
    std::vector<std::string> environment;
    std::chrono::milliseconds time_limit{10000};
    // When given: set, the program is killed and the run ends.
    const std::atomic<bool>* cancel = nullptr;
};

struct ProgramResult {
    bool ended = false;  // started and ended on its own, neither killed nor timed out
    int exit_code = -1;  // when ended: its exit status, or 128 + the signal that ended it
    std::string out;     // standard output, at most its first MiB
    std::string err;     // standard error, at most its first 64 KiB
};

// Runs the program to its end with /dev/null as standard input and gathers its output.
// A program that does not end within the limit, or is cancelled, is killed with its
// process group and reaped; the result then reads not ended.
ProgramResult run_program(const ProgramRun& run);

// A program that runs while this object lives. Its standard input is a pipe only this
// object holds, so it sees the end of its input when the object goes or this process
// dies; its standard output goes to /dev/null, its standard error to ours. The
// destructor closes the pipe and reaps the program, killing its process group when it has
// not ended within `end_limit`.
class HeldProgram {
public:
    explicit HeldProgram(const std::vector<std::string>& argv,
                         std::chrono::milliseconds end_limit = std::chrono::milliseconds(5000));
    ~HeldProgram();
    HeldProgram(const HeldProgram&) = delete;
    HeldProgram& operator=(const HeldProgram&) = delete;

    bool started() const { return pid_ > 0; }
    // Started and not ended yet.
    bool running();

private:
    pid_t pid_ = -1;
    int input_ = -1;
    bool reaped_ = false;
    std::chrono::milliseconds end_limit_;
};

}  // namespace vandrel
