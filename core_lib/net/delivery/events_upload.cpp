#include "core_lib/net/delivery/events_upload.h"

#include <exception>
#include <iostream>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/http/https_client.h"
#include "core_lib/net/net_state.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/config.h"
#include "core_lib/store/events.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

constexpr auto events_pause = std::chrono::milliseconds(10000);

}  // namespace

std::uint64_t events_watermark() {
    const std::string text = db_config_get(true, "events_last_sent");
    if (text.empty() || text.size() > 20 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
    try {
        return std::stoull(text);
    } catch (const std::exception&) {
        return 0;
    }
}

bool upload_events_once() {
    const std::vector<Json> events = db_take_events_after(events_watermark());
    if (events.empty()) return false;
    const Json request(Json::object{
        {"events", Json::array(events.begin(), events.end())}, {"device_id", get_userid()}, {"os", platform_name()}});
    const std::string reply = post_json(current_net::get().config.cloud_url + "/api/v1/events", request.dump());
    std::string err;
    const Json answer = Json::parse(reply, err);
    const Json& latest = answer["latest_date"];
    if (!latest.is_null()) {
        db_config_set(true, "events_last_sent", latest.string_value());
    } else {
        // Not confirmed: the watermark may cover some of them (a late event with an old
        // date), so they must not count as handed out, or the next take deletes them.
        events_forget_handed_out();
    }
    return true;
}

void events_upload_loop() {
    net_state& running = current_net::get();
    while (!core_stopping()) {
        // A failing store fails this pass only: the events wait for the next one.
        try {
            upload_events_once();
        } catch (const std::exception& e) {
            std::cerr << "events upload failed: " << e.what() << "\n";
        }
        if (!running.threads.sleep_for(events_pause)) return;
    }
}

}  // namespace vandrel
