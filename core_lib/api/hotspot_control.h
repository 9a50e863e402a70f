// Starting the hotspot: credentials made from this device's alias. Without a hotspot on
// this device nothing starts. The other calls on it are the platform's
// (hotspot_service.h).
#pragma once

#include <string>

#include "core_lib/platform/hotspot_service.h"

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

}  // namespace vandrel
