// A child program for tests: started with its own environment, fed lines on standard
// input, its standard output read line by line with a time limit. The destructor kills
// a child that is still running and reaps it.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace vandrel::testing {

class ChildProcess {
public:
    // argv[0] is the program path; env entries are "NAME=value" and replace the
    // environment as a whole. Throws std::runtime_error when it cannot start.
    ChildProcess(std::vector<std::string> argv, std::vector<std::string> env);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    void write_line(const std::string& line);
    void close_input();

    // The next output line, or nothing when none came within the time limit or the
    // output ended.
    std::optional<std::string> read_line(std::chrono::milliseconds limit);
    // Reads lines until one starts with `prefix`; the lines passed over are kept in
    // `skipped` when given.
    std::optional<std::string> wait_for_line(const std::string& prefix, std::chrono::milliseconds limit,
                                             std::vector<std::string>* skipped = nullptr);

    void send_signal(int signal);
    // The exit status (as from waitpid) once the child ended within the limit.
    std::optional<int> wait_exit(std::chrono::milliseconds limit);

    pid_t pid() const { return pid_; }

private:
    pid_t pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    std::string buffer_;
    bool reaped_ = false;
    int status_ = 0;
};

// The current environment with the given entries set or replaced.
std::vector<std::string> environment_with(const std::vector<std::string>& overrides);

}  // namespace vandrel::testing
