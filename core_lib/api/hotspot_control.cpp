#include "core_lib/api/hotspot_control.h"

#include <memory>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/sha256.h"
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

hotspot_credentials make_hotspot_credentials(const std::string& alias) {
    hotspot_credentials made;
    made.ssid = cut_utf8("MeskWiFi-" + erase_all(alias, " "), max_ssid_bytes);
    made.passphrase = sha256_hex(made.ssid + "31415pawn27182").substr(0, 8);
    return made;
}

bool start_hotspot() {
    auto service = hotspot();
    if (!service) return false;
    hotspot_credentials made = make_hotspot_credentials(get_alias());
    const bool started = service->start(made.ssid, made.passphrase);
    send_to_ui(Json(Json::object{{"action", "device_updated"}}).dump());
    return started;
}

}  // namespace vandrel
