// What the core needs of the platform's Wi-Fi Direct hotspot: start it with a network
// name and passphrase, stop it, and say how it stands. The platform layer implements it
// and reports the hotspot's status changes to the interface itself.
#pragma once

#include <string>

namespace vandrel {

class hotspot_service {
public:
    virtual ~hotspot_service() = default;
    // Whether this device can run a hotspot at all.
    virtual bool has_feature() const = 0;
    // Keeps the credentials (ssid() and passphrase() give them, also after a stop) and
    // starts advertising; true when the hotspot reads as started right after.
    virtual bool start(const std::string& ssid, const std::string& passphrase) = 0;
    virtual void stop() = 0;
    virtual bool is_started() const = 0;
    // "" before the first start.
    virtual std::string ssid() const = 0;
    virtual std::string passphrase() const = 0;
};

// The running core's hotspot as the core asks after it. Without a hotspot on this
// device the feature reads as missing, nothing runs and the texts are empty.
// Always true.
bool stop_hotspot();
bool is_hotspot_started();
bool has_hotspot_feature();
// "" before the first start.
std::string get_hotspot_ssid();
std::string get_hotspot_passphrase();

}  // namespace vandrel
