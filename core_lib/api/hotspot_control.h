// Starting the hotspot: the network name made from this device's alias, the key this
// device keeps. Without a hotspot on this device, or one that cannot run here, nothing
// starts. The other calls on it are the platform's (hotspot_service.h).
#pragma once

#include <chrono>
#include <string>

#include "core_lib/platform/hotspot_service.h"

namespace vandrel {

// "MeskWiFi-" + alias without blanks, cut to 32 bytes at a character boundary.
std::string make_hotspot_ssid(const std::string& alias);

// How long an answer of the platform to whether this device can run a hotspot is kept.
inline constexpr std::chrono::seconds hotspot_feature_keep{10};

// The feature without waiting for the platform (NetworkManager may take seconds to
// answer): the last answer, asked again on the background jobs once it is older than
// hotspot_feature_keep; false until the first answer. An answer that differs from what
// was told before is told as "device_updated".
bool cached_hotspot_feature();

// Starts with the name made from the current alias and the device's stored passphrase;
// sends "device_updated"; returns whether the hotspot reads as started right after.
// False, and nothing sent, when the device has no hotspot feature (asked at the call,
// and kept for cached_hotspot_feature).
bool start_hotspot();

}  // namespace vandrel
