#include "core_lib/store/events.h"

#include <map>

#include <gtest/gtest.h>

#include "core_lib/store/purge.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

const std::int64_t base_date = 1700000000000;  // 13 digits

Json event_at(std::int64_t date, int seq) {
    return Json::object{{"date_created", std::to_string(date)}, {"event", "chat"}, {"seq", std::to_string(seq)}};
}

struct date_case {
    const char* name;
    Json date;
    bool stored;
};

class StoreEventTest : public StoreTest, public ::testing::WithParamInterface<date_case> {};

TEST_P(StoreEventTest, StoresOnlyThirteenCharacterDates) {
    db_store_event(Json::object{{"date_created", GetParam().date}, {"event", "chat"}});
    EXPECT_EQ(store.number("select count(*) from events"), GetParam().stored ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Dates, StoreEventTest,
                         ::testing::Values(date_case{"thirteen_digits", Json("1700000000000"), true},
                                           date_case{"twelve_characters", Json("170000000000"), false},
                                           date_case{"fourteen_characters", Json("17000000000000"), false},
                                           date_case{"json_number", Json(1700000000000LL), false},
                                           date_case{"missing", Json(), false},
                                           date_case{"thirteen_letters", Json("abcdefghijklm"), true}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(StoreTest, StoredEventKeepsItsTextIdAndDate) {
    db_store_event(event_at(base_date, 1));
    EXPECT_EQ(
        store.rows("select id, date_created, event from events"),
        (std::vector<std::vector<std::string>>{
            {"1700000000000", "1700000000000", R"({"date_created": "1700000000000", "event": "chat", "seq": "1"})"}}));
}

TEST_F(StoreTest, EventsSharingADateAreBothReturned) {
    db_store_event(event_at(base_date, 1));
    db_store_event(event_at(base_date, 2));
    EXPECT_EQ(db_take_events_after(0).size(), 2u);
}

// The upload loop's side: take a batch, "send" it, confirm with its last date.
std::map<std::string, int> deliver_all(std::size_t& batches) {
    std::map<std::string, int> delivered;
    std::uint64_t watermark = 0;
    batches = 0;
    for (int guard = 0; guard < 100; ++guard) {
        const std::vector<Json> batch = db_take_events_after(watermark);
        if (batch.empty()) break;
        ++batches;
        for (const Json& event : batch) ++delivered[event["seq"].string_value()];
        watermark = std::stoull(batch.back()["date_created"].string_value());
    }
    return delivered;
}

TEST_F(StoreTest, EveryEventLeavesExactlyOnce) {
    // 250 events, many sharing a millisecond, and one millisecond of 120 events.
    int seq = 0;
    for (; seq < 90; ++seq) db_store_event(event_at(base_date + seq / 7, seq));
    for (; seq < 210; ++seq) db_store_event(event_at(base_date + 1000, seq));
    for (; seq < 250; ++seq) db_store_event(event_at(base_date + 2000 + seq / 3, seq));

    std::size_t batches = 0;
    const std::map<std::string, int> delivered = deliver_all(batches);
    EXPECT_EQ(delivered.size(), 250u);
    for (const auto& [id, times] : delivered) EXPECT_EQ(times, 1) << "event " << id;
    EXPECT_GE(batches, 3u);
    EXPECT_EQ(store.number("select count(*) from events"), 0);
}

TEST_F(StoreTest, ABatchNeverEndsInsideAMillisecond) {
    int seq = 0;
    for (; seq < 95; ++seq) db_store_event(event_at(base_date + seq, seq));
    for (; seq < 215; ++seq) db_store_event(event_at(base_date + 500, seq));
    const auto first = db_take_events_after(0);
    ASSERT_EQ(first.size(), 95u);
    // The next process knows nothing of what was handed out: it deletes nothing and
    // hands the same batch out again.
    store.restart();
    EXPECT_EQ(db_take_events_after(base_date + 94), first);
    EXPECT_EQ(store.number("select count(*) from events"), 215);
    const auto second = db_take_events_after(base_date + 94);
    ASSERT_EQ(second.size(), 120u);
    EXPECT_EQ(second.front()["seq"].string_value(), "95");
    EXPECT_TRUE(db_take_events_after(base_date + 500).empty());
    EXPECT_EQ(store.number("select count(*) from events"), 0);
}

TEST_F(StoreTest, DistinctDatesLeaveInBatchesOfAHundred) {
    for (int i = 0; i < 250; ++i) db_store_event(event_at(base_date + i, i));
    std::vector<std::size_t> sizes;
    std::uint64_t watermark = 0;
    for (;;) {
        const auto batch = db_take_events_after(watermark);
        if (batch.empty()) break;
        sizes.push_back(batch.size());
        watermark = std::stoull(batch.back()["date_created"].string_value());
    }
    EXPECT_EQ(sizes, (std::vector<std::size_t>{100, 100, 50}));
}

TEST_F(StoreTest, AnUnconfirmedBatchIsOfferedAgain) {
    for (int i = 0; i < 5; ++i) db_store_event(event_at(base_date + i, i));
    const auto first = db_take_events_after(0);
    const auto again = db_take_events_after(0);
    EXPECT_EQ(first, again);
    EXPECT_EQ(store.number("select count(*) from events"), 5);
}

TEST_F(StoreTest, AnEventStoredLateWithAnOlderDateIsStillDelivered) {
    db_store_event(event_at(base_date + 10, 1));
    const auto batch = db_take_events_after(0);
    ASSERT_EQ(batch.size(), 1u);
    // Made before the batch was confirmed, stored after it was taken.
    db_store_event(event_at(base_date + 5, 2));
    const auto next = db_take_events_after(base_date + 10);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0]["seq"].string_value(), "2");
}

struct never_handed_out_case {
    const char* name;
    // What happens before the two events are stored.
    void (*before)(testing::temp_store& store);
};

class NeverHandedOutTest : public StoreTest, public ::testing::WithParamInterface<never_handed_out_case> {};

// Only rows this core handed out are deleted, whatever the watermark covers.
TEST_P(NeverHandedOutTest, EventsSurviveAWatermarkPastThem) {
    GetParam().before(store);
    db_store_event(event_at(base_date + 5, 1));
    db_store_event(event_at(base_date + 20, 2));
    const auto batch = db_take_events_after(base_date + 10);
    ASSERT_EQ(batch.size(), 2u);
    EXPECT_EQ(batch[0]["seq"].string_value(), "1");
    EXPECT_EQ(store.number("select count(*) from events"), 2);
    EXPECT_TRUE(db_take_events_after(base_date + 20).empty());
    EXPECT_EQ(store.number("select count(*) from events"), 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, NeverHandedOutTest,
                         ::testing::Values(
                             // Stored late, with an older date, in a process that has taken nothing yet.
                             never_handed_out_case{"fresh_process",
                                                   [](testing::temp_store& store) { store.restart(); }},
                             // Stored under the rowid of a handed-out event that went another way (purge).
                             never_handed_out_case{"reused_rowid",
                                                   [](testing::temp_store&) {
                                                       db_store_event(event_at(base_date + 10, 0));
                                                       ASSERT_EQ(db_take_events_after(0).size(), 1u);
                                                       db_purge_records_before(base_date + 11);
                                                   }}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(StoreTest, UnreadableEventIsSkippedUntilConfirmed) {
    store.exec("insert into events (id, event, date_created) values ('1700000000001', 'not json', 1700000000001)");
    db_store_event(event_at(base_date + 2, 7));
    const auto batch = db_take_events_after(0);
    ASSERT_EQ(batch.size(), 1u);
    EXPECT_EQ(batch[0]["seq"].string_value(), "7");
    EXPECT_EQ(store.number("select count(*) from events"), 2);
    EXPECT_TRUE(db_take_events_after(base_date + 2).empty());
    EXPECT_EQ(store.number("select count(*) from events"), 0);
}

// Its date reads as 0, so the first confirmation covers it; it must not come back.
TEST_F(StoreTest, EventWithALetterDateLeavesOnce) {
    db_store_event(Json::object{{"date_created", "abcdefghijklm"}, {"event", "chat"}});
    ASSERT_EQ(db_take_events_after(0).size(), 1u);
    EXPECT_TRUE(db_take_events_after(0).empty());
    EXPECT_EQ(store.number("select count(*) from events"), 0);
}

}  // namespace
}  // namespace vandrel
