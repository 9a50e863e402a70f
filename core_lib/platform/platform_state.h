// The core's links to its platform: the platform services, the sink of the UI event
// channel and the hotspot. One instance per running core, bound through current<>; each
// link may be replaced while the core runs (the runtime class installs its sink once it
// holds a dispatcher) and is read under the state's lock.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core_lib/foundation/current.h"

namespace vandrel {

class PlatformServices;
class hotspot_service;

using UiSink = std::function<void(const std::string& text)>;

class platform_state {
public:
    static constexpr const char* part_name = "platform";

    platform_state() = default;
    platform_state(std::shared_ptr<PlatformServices> services, UiSink sink,
                   std::shared_ptr<hotspot_service> hotspot = nullptr);
    platform_state(const platform_state&) = delete;
    platform_state& operator=(const platform_state&) = delete;

    std::shared_ptr<PlatformServices> services() const;
    void set_services(std::shared_ptr<PlatformServices> services);

    // Null when no sink is set (every text is dropped then).
    std::shared_ptr<const UiSink> sink() const;
    void set_sink(UiSink sink);

    // Null on a device without a hotspot.
    std::shared_ptr<hotspot_service> hotspot() const;
    void set_hotspot(std::shared_ptr<hotspot_service> hotspot);

private:
    mutable std::mutex mutex_;
    std::shared_ptr<PlatformServices> services_;
    std::shared_ptr<const UiSink> sink_;
    std::shared_ptr<hotspot_service> hotspot_;
};

using current_platform = current<platform_state>;

}  // namespace vandrel
