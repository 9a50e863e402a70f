#include "tests/support/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <stdexcept>

extern char** environ;

namespace vandrel::testing {

namespace {
std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (auto& t : texts) out.push_back(t.data());
    out.push_back(nullptr);
    return out;
}
}  // namespace

ChildProcess::ChildProcess(std::vector<std::string> argv, std::vector<std::string> env) {
    int in_pipe[2], out_pipe[2];
    if (pipe2(in_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe2(out_pipe, O_CLOEXEC) != 0) {
        close(in_pipe[0]);
        close(in_pipe[1]);
        throw std::runtime_error("pipe failed");
    }
    auto args = pointers(argv);
    auto envp = pointers(env);
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        dup2(in_pipe[0], 0);
        dup2(out_pipe[1], 1);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    in_fd_ = in_pipe[1];
    out_fd_ = out_pipe[0];
}

ChildProcess::~ChildProcess() {
    if (!reaped_ && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status_, 0);
    }
    if (in_fd_ >= 0) close(in_fd_);
    if (out_fd_ >= 0) close(out_fd_);
}

void ChildProcess::write_line(const std::string& line) {
    std::string data = line + "\n";
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(in_fd_, p, left);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw std::runtime_error("write to child failed");
        p += n;
        left -= static_cast<std::size_t>(n);
    }
}

void ChildProcess::close_input() {
    if (in_fd_ >= 0) close(in_fd_);
    in_fd_ = -1;
}

std::optional<std::string> ChildProcess::read_line(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        auto nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || out_fd_ < 0) return std::nullopt;
        pollfd pfd{out_fd_, POLLIN, 0};
        int r = poll(&pfd, 1, static_cast<int>(left.count()));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return std::nullopt;
        char chunk[4096];
        ssize_t n = ::read(out_fd_, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            close(out_fd_);
            out_fd_ = -1;
            // A last line without its line end still counts.
            if (buffer_.empty()) return std::nullopt;
            std::string line = std::move(buffer_);
            buffer_.clear();
            return line;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<std::string> ChildProcess::wait_for_line(const std::string& prefix, std::chrono::milliseconds limit,
                                                       std::vector<std::string>* skipped) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (true) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return std::nullopt;
        auto line = read_line(left);
        if (!line) return std::nullopt;
        if (line->rfind(prefix, 0) == 0) return line;
        if (skipped) skipped->push_back(*line);
    }
}

void ChildProcess::send_signal(int signal) {
    if (!reaped_) kill(pid_, signal);
}

std::optional<int> ChildProcess::wait_exit(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!reaped_) {
        pid_t r = waitpid(pid_, &status_, WNOHANG);
        if (r == pid_) {
            reaped_ = true;
            break;
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
        usleep(10000);
    }
    return status_;
}

std::vector<std::string> environment_with(const std::vector<std::string>& overrides) {
    std::map<std::string, std::string> vars;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        auto eq = entry.find('=');
        if (eq != std::string::npos) vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    for (const auto& entry : overrides) {
        auto eq = entry.find('=');
        vars[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
    }
    std::vector<std::string> out;
    for (const auto& [k, v] : vars) out.push_back(k + "=" + v);
    return out;
}

}  // namespace vandrel::testing
