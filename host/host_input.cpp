#include "host/host_input.h"

#include <cerrno>
#include <system_error>

#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include "core_lib/foundation/named_thread.h"

namespace vandrel::host {

namespace {

void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

host_input::host_input(int input_fd, const sigset_t& signals, handlers on) : input_fd_(input_fd), on_(std::move(on)) {
    signal_fd_ = ::signalfd(-1, &signals, SFD_CLOEXEC);
    int pipe_fds[2];
    if (signal_fd_ < 0 || ::pipe2(pipe_fds, O_CLOEXEC) != 0) {
        const int error = errno;
        close_fd(signal_fd_);
        throw std::system_error(error, std::generic_category(), "host input");
    }
    wake_read_ = pipe_fds[0];
    wake_write_ = pipe_fds[1];
    thread_ = start_thread("mesk-input", [this] { run(); });
}

host_input::~host_input() {
    stop();
    close_fd(signal_fd_);
    close_fd(wake_read_);
    close_fd(wake_write_);
}

void host_input::stop() {
    if (!thread_.joinable()) return;
    const char byte = 0;
    while (::write(wake_write_, &byte, 1) < 0 && errno == EINTR) {}
    thread_.join();
}

void host_input::run() {
    std::string pending;
    bool input_open = true;
    for (;;) {
        pollfd fds[3] = {{wake_read_, POLLIN, 0}, {signal_fd_, POLLIN, 0}, {input_open ? input_fd_ : -1, POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents != 0) return;
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signal_fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) on_.stop_signal();
        }
        if (input_open && fds[2].revents != 0) {
            char buffer[4096];
            const ssize_t n = ::read(input_fd_, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                input_open = false;
                if (!pending.empty()) on_.line(pending);
                pending.clear();
                on_.input_closed();
                continue;
            }
            pending.append(buffer, static_cast<std::size_t>(n));
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos;) {
                on_.line(pending.substr(0, end));
                pending.erase(0, end + 1);
            }
        }
    }
}

}  // namespace vandrel::host
