#include "core_lib/store/analytics_events.h"

#include <gtest/gtest.h>

#include "core_lib/store/events.h"
#include "core_lib/store/settings.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

struct event_case {
    const char* name;
    void (*record)();
    Json::object expected;  // besides the common keys
};

const event_case event_cases[] = {
    {"chat", [] { record_chat_event(); }, {{"event", "chat"}}},
    {"file_download",
     [] { record_file_download_event(3, 1536, "image/jpeg"); },
     {{"event", "file_download"}, {"number_of_files", "3"}, {"size_of_files", "1536"}, {"mime_type", "image/jpeg"}}},
    {"file_upload",
     [] { record_file_upload_event(1, 18446744073709551615ull, "video/mp4"); },
     {{"event", "file_upload"},
      {"number_of_files", "1"},
      {"size_of_files", "18446744073709551615"},
      {"mime_type", "video/mp4"}}},
};

class AnalyticsEventTest : public StoreTest, public ::testing::WithParamInterface<event_case> {};

TEST_P(AnalyticsEventTest, StoresOneRecordOfTexts) {
    const std::string id = get_userid();
    db_take_events_after(0);
    store.exec("delete from events");  // the new_device event of the id

    GetParam().record();
    const auto events = db_take_events_after(0);
    ASSERT_EQ(events.size(), 1u);
    Json::object expected = GetParam().expected;
    expected["os"] = "linux";
    expected["device_id"] = id;
    expected["version"] = "4.3.0";
    const std::string date = events[0]["date_created"].string_value();
    EXPECT_EQ(date.size(), 13u);
    EXPECT_EQ(date.find_first_not_of("0123456789"), std::string::npos);
    expected["date_created"] = date;
    EXPECT_EQ(events[0], Json(expected));
}

INSTANTIATE_TEST_SUITE_P(Events, AnalyticsEventTest, ::testing::ValuesIn(event_cases),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace vandrel
