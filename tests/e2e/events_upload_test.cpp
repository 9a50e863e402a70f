// Usage events leave the device for the cloud stand-in in batches, each exactly once
// it was confirmed, and none is lost when the service dies with a batch in hand.
#include <gtest/gtest.h>

#include <signal.h>

#include <set>
#include <sstream>

#include <SQLiteCpp/Transaction.h>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/json.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;

namespace {

constexpr int stored_events = 250;
// The upload pauses 10 s after each request; a batch is due within that and a margin.
constexpr auto batch_wait = 20s;

class EventsUpload : public NetworkFixture<2> {
protected:
    void SetUp() override {
        NetworkFixture::SetUp();
        if (IsSkipped()) return;
        net_->point_cloud_at(cloud().address);
        seed_events();
    }

    const TestDevice& device() const { return net_->device(0); }
    const TestDevice& cloud() const { return net_->device(1); }

    // The events, one per millisecond an hour ago, and a device id of the device's own
    // (a new id would record one more event).
    void seed_events() {
        auto db = open_app_db(device().data_folder());
        db->exec("insert into config (config_key, config_value) values ('userid', '" + std::string(64, 'a') + "')");
        SQLite::Statement insert(*db, "insert into events (id, event, date_created) values (?, ?, ?)");
        const std::int64_t first = vandrel::now_ms() - 3600000;
        SQLite::Transaction transaction(*db);
        for (int i = 0; i < stored_events; ++i) {
            const std::string date = std::to_string(first + i);
            dates_.push_back(date);
            const Json event(Json::object{{"event", "chat"},
                                          {"os", "linux"},
                                          {"device_id", std::string(64, 'a')},
                                          {"version", "1"},
                                          {"date_created", date}});
            insert.bind(1, date);
            insert.bind(2, event.dump());
            insert.bind(3, first + i);
            insert.exec();
            insert.reset();
        }
        transaction.commit();
    }

    // The dates of the next events request the stand-in took; empty when none came.
    static std::vector<std::string> next_batch(OutputReader& standin, std::chrono::milliseconds limit) {
        auto line = standin.take_prefixed("events ", limit);
        if (!line) return {};
        std::istringstream words(line->substr(7));
        std::size_t count = 0;
        words >> count;
        std::vector<std::string> dates;
        for (std::string date; words >> date;) dates.push_back(date);
        EXPECT_EQ(dates.size(), count) << *line;
        return dates;
    }

    std::vector<std::string> slice(std::size_t from, std::size_t to) const {
        return {dates_.begin() + static_cast<long>(from), dates_.begin() + static_cast<long>(to)};
    }

    // After the last confirmation: the next take deletes what it confirmed, and then
    // the device asks nothing more.
    void expect_store_emptied(OutputReader& standin, MeskSession& mesk) {
        EXPECT_TRUE(next_batch(standin, 13s).empty()) << "events were offered after the last confirmation";
        ASSERT_TRUE(mesk.quit());
        auto db = open_app_db(device().data_folder());
        EXPECT_EQ(db->execAndGet("select count(*) from events").getInt(), 0) << "confirmed events were kept";
    }

    std::vector<std::string> dates_;
};

TEST_F(EventsUpload, StoredEventsGoOutAsHundredHundredAndFifty) {
    auto standin = start_cloud_standin(*net_, cloud());
    ASSERT_TRUE(standin);
    auto mesk = start_mesk_session(*net_, device());
    ASSERT_TRUE(mesk);
    EXPECT_EQ(next_batch(*standin, batch_wait), slice(0, 100));
    EXPECT_EQ(next_batch(*standin, batch_wait), slice(100, 200));
    EXPECT_EQ(next_batch(*standin, batch_wait), slice(200, 250));
    expect_store_emptied(*standin, *mesk);
}

TEST_F(EventsUpload, ABatchTheServiceDiedWithIsOfferedAgainAndNoneIsLost) {
    auto dying = start_cloud_standin(*net_, cloud(), {"--die-on-events", "2"});
    ASSERT_TRUE(dying);
    auto mesk = start_mesk_session(*net_, device());
    ASSERT_TRUE(mesk);
    EXPECT_EQ(next_batch(*dying, batch_wait), slice(0, 100));
    EXPECT_EQ(next_batch(*dying, batch_wait), slice(100, 200));
    ASSERT_TRUE(dying->take_prefixed("dying", 5s));
    ASSERT_TRUE(dying->process().wait_exit(10s));
    dying.reset();

    // Back again: the unanswered batch comes again, the confirmed one never.
    auto standin = start_cloud_standin(*net_, cloud());
    ASSERT_TRUE(standin);
    EXPECT_EQ(next_batch(*standin, batch_wait), slice(100, 200));
    EXPECT_EQ(next_batch(*standin, batch_wait), slice(200, 250));
    expect_store_emptied(*standin, *mesk);
}

}  // namespace
