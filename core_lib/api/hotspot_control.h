// Starting the hotspot: the network name made from this device's alias, the key this
// device keeps. Without a hotspot on this device, or one that cannot run here, nothing
// starts. The other calls on it are the platform's (hotspot_service.h).
#pragma once

#include <string>

#include "core_lib/platform/hotspot_service.h"

namespace vandrel {

// "MeskWiFi-" + alias without blanks, cut to 32 bytes at a character boundary.
std::string make_hotspot_ssid(const std::string& alias);

// Starts with the name made from the current alias and the device's stored passphrase;
// sends "device_updated"; returns whether the hotspot reads as started right after.
// False, and nothing sent, when the device has no hotspot feature.
bool start_hotspot();

}  // namespace vandrel
