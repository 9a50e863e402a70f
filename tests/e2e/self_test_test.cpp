// The self test of a device that listens on every address, alone in its namespace: it
// reaches itself at 127.0.0.1, every check passes, and on that address nothing is open
// to a caller without its secret, nor to a peer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core_lib/foundation/json.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/support/self_test_checks.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;

namespace {

// Generous: a sanitizer build moves the 100 MB file many times slower.
constexpr auto run_limit = 600s;
const std::string forbidden = R"({"error_code": "forbidden", "status": "error"})";

class SelfTestInNamespace : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = TestNetwork::unavailable_reason();
        if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
        net_ = std::make_unique<TestNetwork>(2);
    }

    // Takes the checks of the run up to the one with that label.
    bool take_checks_until(MeskSession& mesk, const std::string& label, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            const Json event = mesk.event("append_test", std::max(left, 0ms));
            if (event.is_null()) return false;
            checks_.push_back(event["test"]);
            if (event["test"]["label"].string_value() == label) return true;
        }
    }

    std::unique_ptr<TestNetwork> net_;
    std::vector<Json> checks_;
};

TEST_F(SelfTestInNamespace, ADeviceOnEveryAddressReachesItselfAt127001AndOnlyWithItsSecret) {
    const auto& a = net_->device(0);
    const auto& b = net_->device(1);
    auto mesk = start_mesk_session(*net_, a);
    ASSERT_TRUE(mesk);
    const std::string own_id = mesk->id();

    mesk->process().write_line("/run_tests {}");
    const auto reply = mesk->take_prefixed("reply /run_tests", 30s);
    ASSERT_TRUE(reply);
    EXPECT_EQ(*reply, "reply /run_tests ");

    std::string code;
    EXPECT_EQ(curl_on(*net_, b, {"-X", "POST", "-d", "{}", "https://" + a.address + ":45001/api/v1/run_tests"}, &code),
              forbidden)
        << "a peer starts no run";

    ASSERT_TRUE(take_checks_until(*mesk, "registered session is active ", 120s));
    EXPECT_EQ(checks_.back()["expected"].string_value(), "127.0.0.1");
    // Another program on the device, on the address the device calls itself at.
    const std::string offer = Json(Json::object{{"id", "made-up"},
                                                {"type", "download"},
                                                {"sender", own_id},
                                                {"receiver", own_id},
                                                {"data", Json::object{{"files", Json::array{}}}}})
                                  .dump();
    for (const std::vector<std::string>& secret :
         {std::vector<std::string>{}, std::vector<std::string>{"-H", "x_mesk_self_call: " + std::string(64, '0')}}) {
        std::vector<std::string> args = {"-X", "POST", "-d", offer, "https://127.0.0.1:45001/api/v1/create_chat"};
        args.insert(args.end(), secret.begin(), secret.end());
        EXPECT_EQ(curl_on(*net_, a, args, &code), R"({"error_code": "forbidden", "id": "made-up", "status": "error"})");
    }

    ASSERT_TRUE(take_checks_until(*mesk, "tests finished", run_limit));
    for (const Json& check : checks_) {
        EXPECT_TRUE(check["passed"].bool_value() || !must_pass_here(check))
            << check["category"].string_value() << ": " << check["label"].string_value() << ": expected "
            << check["expected"].dump() << ", actual " << check["actual"].dump();
    }
    EXPECT_EQ(checks_.size(), 148u);
    EXPECT_TRUE(mesk->quit());
}

}  // namespace
