#include "core_lib/store/analytics_events.h"

#include "core_lib/foundation/clock_random.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/app_version.h"
#include "core_lib/store/events.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

Json::object common_keys(const std::string& event) {
    Json::object record;
    record["os"] = platform_name();
    record["device_id"] = get_userid();
    record["version"] = app_version();
    record["date_created"] = std::to_string(now_ms());
    record["event"] = event;
    return record;
}

Json make_analytics_event(const std::string& event) { return Json(common_keys(event)); }

Json make_file_analytics_event(const std::string& event, std::uint64_t number_of_files, std::uint64_t size_of_files,
                               const std::string& mime_type) {
    Json::object record = common_keys(event);
    record["number_of_files"] = std::to_string(number_of_files);
    record["size_of_files"] = std::to_string(size_of_files);
    record["mime_type"] = mime_type;
    return Json(std::move(record));
}

}  // namespace

void record_chat_event() { db_store_event(make_analytics_event("chat")); }

void record_file_download_event(std::uint64_t number_of_files, std::uint64_t size_of_files, std::string mime_type) {
    db_store_event(make_file_analytics_event("file_download", number_of_files, size_of_files, mime_type));
}

void record_file_upload_event(std::uint64_t number_of_files, std::uint64_t size_of_files, std::string mime_type) {
    db_store_event(make_file_analytics_event("file_upload", number_of_files, size_of_files, mime_type));
}

void record_new_device_event() { db_store_event(make_analytics_event("new_device")); }

}  // namespace vandrel
