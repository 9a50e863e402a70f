// A recording platform whose network answers (local and broadcast addresses, Wi-Fi
// name and access point) a test sets and changes, and a hotspot the test switches.
// Install them into a temp_store's platform links with install().
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core_lib/platform/hotspot_service.h"
#include "tests/support/recording_platform.h"

namespace vandrel::testing {

class network_platform : public recording_platform {
public:
    void set_local_ips(std::vector<std::string> ips);
    void set_broadcast_addresses(std::vector<std::string> addresses);
    void set_local_networks(std::vector<std::string> networks);
    void set_wifi(std::string ssid, std::string bssid);

    std::vector<std::string> get_local_ips() override;
    std::vector<std::string> get_broadcast_addresses() override;
    std::vector<std::string> get_local_networks() override;
    std::string get_wifi_ssid() override;
    std::string get_wifi_bssid() override;

private:
    mutable std::mutex network_mutex_;
    std::vector<std::string> local_ips_;
    std::vector<std::string> broadcast_addresses_;
    std::vector<std::string> local_networks_;
    std::string ssid_;
    std::string bssid_;
};

class switchable_hotspot : public hotspot_service {
public:
    bool has_feature() const override { return true; }
    bool start(const std::string& ssid, const std::string& passphrase) override;
    void stop() override;
    bool is_started() const override;
    std::string ssid() const override;
    std::string passphrase() const override;

private:
    mutable std::mutex mutex_;
    bool started_ = false;
    std::string ssid_;
    std::string passphrase_;
};

struct network_doubles {
    std::shared_ptr<network_platform> platform = std::make_shared<network_platform>();
    std::shared_ptr<switchable_hotspot> hotspot = std::make_shared<switchable_hotspot>();
};

// Replaces the bound core's platform services and hotspot with these (the data and
// local folders carried over from the services they replace).
network_doubles install_network_doubles();

}  // namespace vandrel::testing
