#include "tests/support/network_platform.h"

#include <utility>

#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/platform_state.h"

namespace vandrel::testing {

void network_platform::set_local_ips(std::vector<std::string> ips) {
    std::lock_guard<std::mutex> lock(network_mutex_);
    local_ips_ = std::move(ips);
}

void network_platform::set_broadcast_addresses(std::vector<std::string> addresses) {
    std::lock_guard<std::mutex> lock(network_mutex_);
    broadcast_addresses_ = std::move(addresses);
}

void network_platform::set_local_networks(std::vector<std::string> networks) {
    std::lock_guard<std::mutex> lock(network_mutex_);
    local_networks_ = std::move(networks);
}

std::vector<std::string> network_platform::get_local_networks() {
    std::lock_guard<std::mutex> lock(network_mutex_);
    return local_networks_;
}

void network_platform::set_wifi(std::string ssid, std::string bssid) {
    std::lock_guard<std::mutex> lock(network_mutex_);
    ssid_ = std::move(ssid);
    bssid_ = std::move(bssid);
}

std::vector<std::string> network_platform::get_local_ips() {
    std::lock_guard<std::mutex> lock(network_mutex_);
    return local_ips_;
}

std::vector<std::string> network_platform::get_broadcast_addresses() {
    std::lock_guard<std::mutex> lock(network_mutex_);
    return broadcast_addresses_;
}

std::string network_platform::get_wifi_ssid() {
    std::lock_guard<std::mutex> lock(network_mutex_);
    return ssid_;
}

std::string network_platform::get_wifi_bssid() {
    std::lock_guard<std::mutex> lock(network_mutex_);
    return bssid_;
}

bool switchable_hotspot::start(const std::string& ssid, const std::string& passphrase) {
    std::lock_guard<std::mutex> lock(mutex_);
    ssid_ = ssid;
    passphrase_ = passphrase;
    started_ = true;
    return true;
}

void switchable_hotspot::stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = false;
}

bool switchable_hotspot::is_started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}

std::string switchable_hotspot::ssid() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ssid_;
}

std::string switchable_hotspot::passphrase() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return passphrase_;
}

network_doubles install_network_doubles() {
    network_doubles doubles;
    platform_state& links = current_platform::get();
    if (const std::shared_ptr<PlatformServices> before = links.services()) {
        doubles.platform->set_data_folder(before->get_data_folder_path());
        doubles.platform->set_local_folder(before->get_local_folder_path());
    }
    links.set_services(doubles.platform);
    links.set_hotspot(doubles.hotspot);
    return doubles;
}

}  // namespace vandrel::testing
