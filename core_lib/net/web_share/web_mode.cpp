#include "core_lib/net/web_share/web_mode.h"

#include <iostream>

#include "core_lib/net/net_state.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/settings.h"

namespace vandrel {

bool web_share_switch::start(const web_share_setup& setup, std::string& error) {
    std::lock_guard<std::mutex> lock(mutex_);
    return start_locked(setup, error);
}

bool web_share_switch::start_locked(const web_share_setup& setup, std::string& error) {
    std::cerr << "starting web mode";
    if (server_) {
        std::cerr << "\n";
        return true;
    }
    server_ = run_web_mode_server(setup, error);
    std::cerr << (server_ ? ": listening on port " + std::to_string(server_->port()) : ": " + error) << "\n";
    return server_ != nullptr;
}

void web_share_switch::stop() {
    // Closed before the lock goes: a start that follows finds the port free.
    std::lock_guard<std::mutex> lock(mutex_);
    server_.reset();
}

bool web_share_switch::running() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return server_ != nullptr;
}

std::uint16_t web_share_switch::port() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return server_ ? server_->port() : 0;
}

std::size_t web_share_switch::open_pages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return server_ ? server_->pages().open_pages() : 0;
}

bool web_share_switch::follow(const std::function<bool()>& wanted, const web_share_setup& setup, std::string& error,
                              const std::function<void()>& failed) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!wanted()) {
        server_.reset();
        return true;
    }
    if (start_locked(setup, error)) return true;
    if (failed) failed();
    return false;
}

namespace {

void follow_web_mode_setting() {
    net_state& net = current_net::get();
    const auto wanted = [] { return is_web_mode_running() && !core_stopping(); };
    std::string error;
    if (net.web_share.follow(wanted, web_share_setup_for(net.config), error, set_web_mode_failed)) return;
    report_service_not_started("web share", error);
}

}  // namespace

void start_web_mode() { follow_web_mode_setting(); }

void stop_web_mode() { follow_web_mode_setting(); }

}  // namespace vandrel
