#include "core_lib/selftest/client_mock.h"

#include <utility>

#include "core_lib/api/request_values.h"

namespace vandrel {

void client_mock::apply_devices(Json records) {
    for (const Json& record : records.array_items()) {
        std::string key = record["id"].string_value();
        const std::uint64_t date = parse_u64_or_zero(record["date_updated"].string_value());
        devices.erase(key);
        devices.emplace(std::move(key), record);
        if (date > last_pull_devices) last_pull_devices = date;
    }
}

}  // namespace vandrel
