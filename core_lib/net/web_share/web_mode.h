// The web-share server's switch. It follows the web-mode setting: on opens the server
// (web_share_server.h) at once, off closes its listener and every connection before it
// returns, so turning web share off and on again binds again at once and never leaves
// two servers. A port that cannot be bound is reported to the interface once and the
// setting reads off again. Thread-safe; the destructor closes the server.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core_lib/net/web_share/web_share_server.h"

namespace vandrel {

class web_share_switch {
public:
    web_share_switch() = default;
    ~web_share_switch() { stop(); }
    web_share_switch(const web_share_switch&) = delete;
    web_share_switch& operator=(const web_share_switch&) = delete;

    // Logs "starting web mode" and opens the server unless it is open. False, with
    // `error` set, when it cannot listen.
    bool start(const web_share_setup& setup, std::string& error);
    // Closes the server; returns once its port is free and its thread has ended.
    void stop();
    bool running() const;
    // The port it listens on; 0 while off.
    std::uint16_t port() const;
    // Pages holding a WebSocket to it; 0 while off.
    std::size_t open_pages() const;
    // Opens or closes the server as wanted() says, asked under the switch's lock, so
    // that switches racing each other end as the last state written says. False, with
    // `error` set, when the server was wanted but could not listen; `failed` then runs,
    // still under the lock.
    bool follow(const std::function<bool()>& wanted, const web_share_setup& setup, std::string& error,
                const std::function<void()>& failed);

private:
    bool start_locked(const web_share_setup& setup, std::string& error);

    mutable std::mutex mutex_;  // held through a whole start or stop
    std::unique_ptr<web_share_server> server_;
};

// The running core's switch, as the web-mode setting's listener calls it: both follow
// the setting as it reads then (at the core's bind address and web port).
void start_web_mode();
void stop_web_mode();

}  // namespace vandrel
