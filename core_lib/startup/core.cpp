#include "core_lib/startup/core.h"

#include "core_lib/foundation/named_thread.h"
#include "core_lib/net/web_share/web_mode.h"
#include "core_lib/startup/core_start.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/store_lifecycle.h"

namespace vandrel {

core::core(core_config config)
    : platform_(std::move(config.platform), std::move(config.ui_sink), std::move(config.hotspot)),
      platform_binding_(platform_),
      store_binding_(store_),
      net_(std::move(config.network)),
      net_binding_(net_),
      api_binding_(api_),
      self_test_(std::move(config.test_fault)) {
    api_.start_self_test = [this] { return self_test_.start(); };
    set_web_mode_listener([](bool on) {
        if (on) {
            start_web_mode();
        } else {
            stop_web_mode();
        }
    });
}

core::~core() { stop(); }

void core::start() {
    {
        std::lock_guard<std::mutex> lock(lifecycle_mutex_);
        if (started_ || stopped_) return;
        started_ = true;
    }
    core_start();
}

void core::start_in_background() {
    std::lock_guard<std::mutex> lock(lifecycle_mutex_);
    if (started_ || stopped_ || startup_thread_.joinable()) return;
    startup_thread_ = start_thread("mesk-start", [this] { start(); });
}

void core::stop() {
    {
        std::lock_guard<std::mutex> lock(lifecycle_mutex_);
        if (stopped_) return;
        stopped_ = true;
    }
    // A start-up under way finishes first; its steps are short.
    if (startup_thread_.joinable()) startup_thread_.join();
    net_.request_stop();
    // A run under way sees the stop (its calls to peers end at once) and restores.
    self_test_.stop();
    // No new request comes in once the servers are closed; then the work they started.
    net_.stop_servers();
    api_.stop();
    net_.stop();
    // Let go while the core is still bound: a hotspot with a thread of its own ends it
    // here when nothing else holds it.
    platform_.set_hotspot(nullptr);
    store_shutdown();
}

std::uint16_t core::rest_port() {
    std::lock_guard<std::mutex> lock(net_.servers_mutex);
    return net_.servers.rest_port;
}

std::uint16_t core::loopback_port() {
    std::lock_guard<std::mutex> lock(net_.servers_mutex);
    return net_.servers.loopback_port;
}

}  // namespace vandrel
