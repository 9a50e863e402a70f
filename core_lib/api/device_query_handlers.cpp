#include "core_lib/api/device_query_handlers.h"

#include "core_lib/api/api_reply.h"
#include "core_lib/api/request_values.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/downloads.h"

namespace vandrel {

std::string handle_get_recently_changed_devices(Json params, std::string) {
    const std::uint64_t since = read_count(params["last_pull_devices"]);
    return reply_success_with(
        {{"devices", Json(db_get_devices_updated_since(since))}, {"last_pull_devices", std::to_string(since)}});
}

std::string handle_get_new_downloads(Json params, std::string) {
    const std::uint64_t start = parse_u64_or_zero(params["start"].string_value());
    return reply_success_with(
        {{"downloads", Json(db_get_downloads_from_sender(start, params["peer"].string_value()))}});
}

}  // namespace vandrel
