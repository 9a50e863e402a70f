#include "core_lib/platform/hotspot_service.h"

#include <memory>

#include "core_lib/platform/platform_state.h"

namespace vandrel {

namespace {

std::shared_ptr<hotspot_service> hotspot() { return current_platform::get().hotspot(); }

}  // namespace

bool stop_hotspot() {
    if (auto service = hotspot()) service->stop();
    return true;
}

bool is_hotspot_started() {
    auto service = hotspot();
    return service && service->is_started();
}

bool has_hotspot_feature() {
    auto service = hotspot();
    return service && service->has_feature();
}

std::string get_hotspot_ssid() {
    auto service = hotspot();
    return service ? service->ssid() : std::string();
}

std::string get_hotspot_passphrase() {
    auto service = hotspot();
    return service ? service->passphrase() : std::string();
}

}  // namespace vandrel
