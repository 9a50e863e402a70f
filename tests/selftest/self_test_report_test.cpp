#include "core_lib/selftest/self_test_report.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

#include "core_lib/selftest/client_mock.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using SelfTestReport = testing::StoreTest;

Json last_check(testing::temp_store& store) {
    const std::vector<Json> events = store.ui().events();
    return events.empty() ? Json() : events.back()["test"];
}

TEST_F(SelfTestReport, EachAssertionPostsOneEventWithItsFixedTexts) {
    self_test_report report;
    const struct {
        std::function<void()> assertion;
        const char* type;
        const char* expected;
        const char* actual;
        bool passed;
    } cases[] = {
        {[&] { report.assert_true("c", "l", true); }, "assert_true", "true", "false", true},
        {[&] { report.assert_true("c", "l", false); }, "assert_true", "true", "false", false},
        {[&] { report.assert_not_empty("c", "l", "x"); }, "assert_not_empty", "not empty", "empty", true},
        {[&] { report.assert_not_empty("c", "l", ""); }, "assert_not_empty", "not empty", "empty", false},
        {[&] { report.assert_less_than("c", "l", 100, 100); }, "assert_less_than", "<100", "100", false},
        {[&] { report.assert_less_than("c", "l", 100, 99); }, "assert_less_than", "<100", "99", true},
        {[&] { report.assert_equals("c", "l", 64, 64); }, "assert_equals", "64", "64", true},
        {[&] { report.assert_equals("c", "l", -1, 1); }, "assert_equals", "-1", "1", false},
        {[&] { report.assert_equals("c", "l", "same", "same "); }, "assert_equals", "same", "same ", false},
    };
    for (const auto& c : cases) {
        store.ui().clear();
        c.assertion();
        ASSERT_EQ(store.ui().texts().size(), 1u) << c.type << " " << c.expected << " " << c.actual;
        const Json check = last_check(store);
        EXPECT_EQ(check["type"].string_value(), c.type);
        EXPECT_EQ(check["category"].string_value(), "c");
        EXPECT_EQ(check["label"].string_value(), "l");
        EXPECT_EQ(check["expected"].string_value(), c.expected);
        EXPECT_EQ(check["actual"].string_value(), c.actual);
        EXPECT_TRUE(check["passed"].is_bool());
        EXPECT_EQ(check["passed"].bool_value(), c.passed) << c.type << " " << c.expected << " " << c.actual;
    }
    // Keys in byte order, "passed" a JSON boolean.
    EXPECT_EQ(append_test_text("assert_true", "info", "assert_true works", "true", "false", true),
              R"({"action": "append_test", "test": {"actual": "false", "category": "info", )"
              R"("expected": "true", "label": "assert_true works", "passed": true, "type": "assert_true"}})");
}

TEST_F(SelfTestReport, AFaultMadeOnPurposeFailsItsCheckOrRaisesAfterIt) {
    self_test_report report({"broken", "last"});
    report.assert_true("c", "broken", true);
    EXPECT_FALSE(last_check(store)["passed"].bool_value());
    report.assert_true("c", "fine", true);
    EXPECT_TRUE(last_check(store)["passed"].bool_value());
    EXPECT_THROW(report.assert_true("c", "last", true), std::runtime_error);
    EXPECT_EQ(last_check(store)["label"].string_value(), "last") << "posted before the error";
}

Json device(const std::string& id, const std::string& date) {
    return Json::object{{"id", id}, {"date_updated", date}, {"alias", id + date}};
}

TEST(ClientMock, KeepsTheLatestRecordOfEachIdAndTheLargestDate) {
    client_mock mock;
    mock.apply_devices(Json::array{});
    EXPECT_TRUE(mock.devices.empty());
    EXPECT_EQ(mock.last_pull_devices, 0u);

    mock.apply_devices(Json::array{device("a", "200"), device("a", "100"), device("b", "150")});
    ASSERT_EQ(mock.devices.size(), 2u);
    EXPECT_EQ(mock.devices["a"]["alias"].string_value(), "a100") << "the later record of an id stays";
    EXPECT_EQ(mock.last_pull_devices, 200u);

    // Never smaller; a date that is no number counts as 0; a record without an id is
    // kept under the empty one.
    mock.apply_devices(Json::array{device("c", "50"), device("d", "soon"), Json::object{{"date_updated", "300"}}});
    EXPECT_EQ(mock.last_pull_devices, 300u);
    EXPECT_EQ(mock.devices.size(), 5u);
    EXPECT_EQ(mock.devices.count(""), 1u);
}

}  // namespace
}  // namespace vandrel
