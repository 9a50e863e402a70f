#include "core_lib/net/delivery/events_upload.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/net_state.h"
#include "core_lib/store/config.h"
#include "core_lib/store/events.h"
#include "core_lib/store/settings.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::stub_peer;

constexpr std::int64_t base = 1700000000000;
const std::string events_path = "/api/v1/events";

Json parse(const std::string& text) {
    std::string err;
    return Json::parse(text, err);
}

http_answer answer_text(const std::string& text) {
    http_answer answer;
    answer.body = text;
    return answer;
}

// The service as it should be: it confirms the last event it received.
http_answer confirm_last(const http_request& request) {
    const Json body = parse(request.body);
    const std::string last = body["events"].array_items().back()["date_created"].string_value();
    return answer_text(Json(Json::object{{"latest_date", last}, {"status", "success"}}).dump());
}

std::vector<std::int64_t> dates_in(const stub_peer::request& request) {
    std::vector<std::int64_t> dates;
    const Json body = parse(request.body);
    for (const Json& event : body["events"].array_items())
        dates.push_back(std::stoll(event["date_created"].string_value()));
    return dates;
}

std::vector<std::int64_t> dates_from(std::int64_t first, int count) {
    std::vector<std::int64_t> dates;
    for (int i = 0; i < count; ++i) dates.push_back(first + i);
    return dates;
}

// The cloud stands in on 127.0.0.1.
class EventsUpload : public ::testing::Test {
protected:
    void SetUp() override {
        own = get_userid();
        store.exec("delete from events");  // the birth of the id made one
        cloud = std::make_unique<stub_peer>("127.0.0.1", 0, "cloud");
        ASSERT_TRUE(cloud->listening());
        cloud->answer_with(events_path, confirm_last);
        net_config config = testing::loopback_config();
        config.cloud_url = cloud->url();
        services = std::make_unique<testing::temp_services>(config);
    }
    void TearDown() override { services.reset(); }

    void store_event(std::int64_t date) {
        db_store_event(Json::object{{"event", "chat"},
                                    {"os", "linux"},
                                    {"device_id", own},
                                    {"version", "1"},
                                    {"date_created", std::to_string(date)}});
    }
    void store_events(int count) {
        for (int i = 0; i < count; ++i) store_event(base + i);
    }
    std::int64_t stored() { return store.number("select count(*) from events"); }
    std::vector<stub_peer::request> requests() { return cloud->received(events_path); }

    testing::temp_store store;
    std::string own;
    std::unique_ptr<stub_peer> cloud;
    std::unique_ptr<testing::temp_services> services;
};

TEST_F(EventsUpload, EventsLeaveInBatchesOfAHundredAndGoOnlyAfterTheirConfirmation) {
    store_events(250);
    const std::int64_t stored_after[] = {250, 150, 50};
    for (int n = 0; n < 3; ++n) {
        SCOPED_TRACE(n);
        EXPECT_TRUE(upload_events_once());
        EXPECT_EQ(stored(), stored_after[n]) << "deleted at the take after their confirmation";
    }
    const std::vector<stub_peer::request> sent = requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(dates_in(sent[0]), dates_from(base, 100));
    EXPECT_EQ(dates_in(sent[1]), dates_from(base + 100, 100));
    EXPECT_EQ(dates_in(sent[2]), dates_from(base + 200, 50));
    const Json body = parse(sent[0].body);
    EXPECT_EQ(body["device_id"].string_value(), own);
    EXPECT_EQ(body["os"].string_value(), "linux");
    EXPECT_EQ(body["events"][0]["event"].string_value(), "chat");
    EXPECT_EQ(events_watermark(), static_cast<std::uint64_t>(base + 249));

    EXPECT_FALSE(upload_events_once()) << "nothing left: no request";
    EXPECT_EQ(requests().size(), 3u);
    EXPECT_EQ(stored(), 0);
}

TEST_F(EventsUpload, AnUnconfirmedBatchLosesNothingAndGoesAgain) {
    store_events(250);
    const struct {
        const char* name;
        stub_peer::answer_maker answer;
    } failures[] = {
        {"received, answer cut off", [](const http_request&) { return testing::cut_answer(); }},
        {"no latest_date", [](const http_request&) { return answer_text(R"({"status": "success"})"); }},
        {"latest_date null", [](const http_request&) { return answer_text(R"({"latest_date": null})"); }},
        {"not JSON", [](const http_request&) { return answer_text("<html>busy</html>"); }},
    };
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        cloud->answer_with(events_path, failure.answer);
        EXPECT_TRUE(upload_events_once());
        EXPECT_EQ(dates_in(requests().back()), dates_from(base, 100));
        EXPECT_EQ(stored(), 250);
        EXPECT_EQ(events_watermark(), 0u);
    }
    cloud->answer_with(events_path, confirm_last);
    EXPECT_TRUE(upload_events_once());
    EXPECT_EQ(dates_in(requests().back()), dates_from(base, 100));
    EXPECT_TRUE(upload_events_once());
    EXPECT_EQ(dates_in(requests().back()), dates_from(base + 100, 100));
    EXPECT_EQ(stored(), 150);
}

TEST_F(EventsUpload, AnEventStoredLateWithAnOlderDateIsSentBeforeItIsDeleted) {
    store_events(150);
    // One arrives while the first batch is under way, dated before all of it.
    cloud->answer_with(events_path, [this](const http_request& request) {
        if (requests().size() == 1) store_event(base - 1);
        return confirm_last(request);
    });
    EXPECT_TRUE(upload_events_once());
    // And one after the confirmation, dated inside the confirmed span.
    store_event(base + 50);
    EXPECT_TRUE(upload_events_once());

    std::vector<std::int64_t> second = dates_in(requests().at(1));
    std::vector<std::int64_t> expected = {base - 1, base + 50};
    const std::vector<std::int64_t> rest = dates_from(base + 100, 50);
    expected.insert(expected.end(), rest.begin(), rest.end());
    EXPECT_EQ(second, expected);
    EXPECT_EQ(stored(), 52) << "the late ones wait for their own confirmation";

    EXPECT_FALSE(upload_events_once());
    EXPECT_EQ(stored(), 0);
}

TEST_F(EventsUpload, ALatestDateThatIsNoTextReadsBackAsZeroAndDeletesNothing) {
    store_events(120);
    cloud->answer(events_path, Json(Json::object{{"latest_date", static_cast<double>(base + 99)}}).dump());
    EXPECT_TRUE(upload_events_once());
    EXPECT_EQ(db_config_get(true, "events_last_sent"), "");
    EXPECT_EQ(events_watermark(), 0u);
    EXPECT_TRUE(upload_events_once());
    EXPECT_EQ(dates_in(requests().back()), dates_from(base, 100));
    EXPECT_EQ(stored(), 120);
}

TEST_F(EventsUpload, TheWatermarkIsAnUnsignedDecimalOrZero) {
    const struct {
        const char* text;
        std::uint64_t watermark;
    } cases[] = {
        {"", 0},
        {"1700000000123", 1700000000123},
        {"0", 0},
        {"18446744073709551615", std::numeric_limits<std::uint64_t>::max()},
        {"18446744073709551616", 0},
        {"123456789012345678901", 0},
        {"-5", 0},
        {"+5", 0},
        {" 17", 0},
        {"17 ", 0},
        {"12a", 0},
        {"1.5", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        db_config_set(true, "events_last_sent", c.text);
        EXPECT_EQ(events_watermark(), c.watermark);
    }
}

TEST_F(EventsUpload, APassThatFailsInTheStoreLeavesTheLoopRunning) {
    store_events(3);
    store.exec("alter table config rename to config_away");
    services->net().threads.start("events upload", events_upload_loop);
    std::this_thread::sleep_for(500ms);  // its first pass reads the watermark at once and fails
    store.exec("alter table config_away rename to config");
    // The next pass comes after the loop's pause of 10 s.
    ASSERT_TRUE(testing::wait_until([&] { return requests().size() == 1; }, 40s));
    EXPECT_EQ(dates_in(requests()[0]), dates_from(base, 3));
}

}  // namespace
}  // namespace vandrel
