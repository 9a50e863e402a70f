#include "core_lib/api/hotspot_control.h"

#include <memory>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/platform/hotspot_service.h"
#include "core_lib/platform/platform_state.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

constexpr std::size_t max_ssid_bytes = 32;

std::shared_ptr<hotspot_service> hotspot() { return current_platform::get().hotspot(); }

}  // namespace

std::string make_hotspot_ssid(const std::string& alias) {
    return cut_utf8("MeskWiFi-" + erase_all(alias, " "), max_ssid_bytes);
}

bool start_hotspot() {
    auto service = hotspot();
    if (!service || !service->has_feature()) return false;
    const bool started = service->start(make_hotspot_ssid(get_alias()), get_device_hotspot_passphrase());
    send_to_ui(Json(Json::object{{"action", "device_updated"}}).dump());
    return started;
}

}  // namespace vandrel
