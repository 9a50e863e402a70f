#include "core_lib/api/hotspot_control.h"

#include <memory>

#include "core_lib/api/api_state.h"
#include "core_lib/api/background_jobs.h"

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

void tell_device_updated() { send_to_ui(Json(Json::object{{"action", "device_updated"}}).dump()); }

// Asks the platform on the calling thread and keeps the answer; `changed` says whether
// it differs from what the cache told before.
bool look_at_feature(bool& changed) {
    auto service = hotspot();
    const bool present = service && service->has_feature();
    hotspot_feature_cache& cache = current_api::get().hotspot_feature;
    std::lock_guard<std::mutex> lock(cache.mutex);
    changed = cache.present != present;
    cache.known = true;
    cache.present = present;
    cache.asking = false;
    cache.read_at = std::chrono::steady_clock::now();
    return present;
}

}  // namespace

std::string make_hotspot_ssid(const std::string& alias) {
    return cut_utf8("MeskWiFi-" + erase_all(alias, " "), max_ssid_bytes);
}

bool cached_hotspot_feature() {
    hotspot_feature_cache& cache = current_api::get().hotspot_feature;
    bool present = false;
    {
        std::lock_guard<std::mutex> lock(cache.mutex);
        present = cache.present;
        const bool fresh = cache.known && std::chrono::steady_clock::now() - cache.read_at < hotspot_feature_keep;
        if (fresh || cache.asking) return present;
        cache.asking = true;
    }
    const bool queued = start_background_job("hotspot feature", [] {
        bool changed = false;
        (void)look_at_feature(changed);
        if (changed) tell_device_updated();
    });
    if (!queued) {
        std::lock_guard<std::mutex> lock(cache.mutex);
        cache.asking = false;
    }
    return present;
}

bool start_hotspot() {
    auto service = hotspot();
    bool changed = false;  // told below with the start
    if (!service || !look_at_feature(changed)) return false;
    const bool started = service->start(make_hotspot_ssid(get_alias()), get_device_hotspot_passphrase());
    tell_device_updated();
    return started;
}

}  // namespace vandrel
