// The hotspot as the core uses it: credentials made from this device's alias, and the
// running core's hotspot_service behind a few calls. Without a hotspot on this device
// nothing starts, the feature reads as missing and the texts are empty.
#pragma once

#include <string>

namespace vandrel {

// Network name "MeskWiFi-" + alias without blanks, cut to 32 bytes at a character
// boundary; passphrase the first 8 hex characters of sha256(name + "31415pawn27182").
struct hotspot_credentials {
    std::string ssid;
    std::string passphrase;
};
hotspot_credentials make_hotspot_credentials(const std::string& alias);

// Starts with credentials made from the current alias; sends "device_updated";
// returns whether the hotspot reads as started right after.
bool start_hotspot();
// Always true.
bool stop_hotspot();
bool is_hotspot_started();
bool has_hotspot_feature();
// "" before the first start.
std::string get_hotspot_ssid();
std::string get_hotspot_passphrase();

}  // namespace vandrel
