// The host's input thread: it hands over each line of standard input and reports the
// stop signals (SIGINT, SIGTERM, taken through a signalfd), until stop() wakes and
// joins it. The signals must be blocked in every thread before it starts.
#pragma once

#include <functional>
#include <string>
#include <thread>

#include <signal.h>

namespace vandrel::host {

class host_input {
public:
    struct handlers {
        std::function<void(const std::string& line)> line;
        std::function<void()> stop_signal;
        std::function<void()> input_closed;
    };

    // Throws std::system_error when the signalfd or the wake-up pipe cannot be made.
    host_input(int input_fd, const sigset_t& signals, handlers on);
    ~host_input();
    host_input(const host_input&) = delete;
    host_input& operator=(const host_input&) = delete;

    void stop();

private:
    void run();

    const int input_fd_;
    const handlers on_;
    int signal_fd_ = -1;
    int wake_read_ = -1;
    int wake_write_ = -1;
    std::thread thread_;
};

}  // namespace vandrel::host
