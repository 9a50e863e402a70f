#include "core_lib/platform/platform_state.h"

#include "core_lib/platform/hotspot_service.h"
#include "core_lib/platform/platform_services.h"

namespace vandrel {

platform_state::platform_state(std::shared_ptr<PlatformServices> services, UiSink sink,
                               std::shared_ptr<hotspot_service> hotspot)
    : services_(std::move(services)), hotspot_(std::move(hotspot)) {
    set_sink(std::move(sink));
}

std::shared_ptr<PlatformServices> platform_state::services() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return services_;
}

void platform_state::set_services(std::shared_ptr<PlatformServices> services) {
    std::lock_guard<std::mutex> lock(mutex_);
    services_ = std::move(services);
}

std::shared_ptr<const UiSink> platform_state::sink() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return sink_;
}

void platform_state::set_sink(UiSink sink) {
    auto next = sink ? std::make_shared<const UiSink>(std::move(sink)) : nullptr;
    std::lock_guard<std::mutex> lock(mutex_);
    sink_ = std::move(next);
}

std::shared_ptr<hotspot_service> platform_state::hotspot() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hotspot_;
}

void platform_state::set_hotspot(std::shared_ptr<hotspot_service> hotspot) {
    std::lock_guard<std::mutex> lock(mutex_);
    hotspot_ = std::move(hotspot);
}

}  // namespace vandrel
