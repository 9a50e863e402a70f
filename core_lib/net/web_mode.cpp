#include "core_lib/net/web_mode.h"

#include <iostream>

#include "core_lib/foundation/run_logged.h"
#include "core_lib/net/net_state.h"

namespace vandrel {

void web_share_switch::start() {
    std::cerr << "starting web mode\n";
    std::lock_guard<std::mutex> control(control_mutex_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (on_) return;
        on_ = true;
    }
    thread_ = std::thread([this] { run_logged("web mode server", [this] { serve(); }); });
}

void web_share_switch::stop() {
    // One switch at a time: a start waits until the old thread has ended.
    std::lock_guard<std::mutex> control(control_mutex_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        on_ = false;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

bool web_share_switch::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return on_;
}

void web_share_switch::serve() {
    // Serves nothing yet; it only holds its place until it is switched off.
    std::unique_lock<std::mutex> lock(mutex_);
    wake_.wait(lock, [this] { return !on_; });
}

void start_web_mode() { current_net::get().web_share.start(); }

void stop_web_mode() { current_net::get().web_share.stop(); }

}  // namespace vandrel
