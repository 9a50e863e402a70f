// The web-share server's switch: it follows the web-mode setting (on starts the server
// thread unless it runs, off ends it and joins it), so turning web share off and on
// again never leaves two servers. Thread-safe; the destructor ends the thread.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

namespace vandrel {

class web_share_switch {
public:
    web_share_switch() = default;
    ~web_share_switch() { stop(); }
    web_share_switch(const web_share_switch&) = delete;
    web_share_switch& operator=(const web_share_switch&) = delete;

    // Logs "starting web mode" and starts the server thread unless it runs.
    void start();
    // Ends the server thread and waits for it.
    void stop();
    bool running() const;

private:
    void serve();

    std::mutex control_mutex_;  // held through a whole start or stop; guards thread_
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool on_ = false;
    std::thread thread_;
};

// The running core's switch, as the web-mode setting's listener calls it.
void start_web_mode();
void stop_web_mode();

}  // namespace vandrel
