// A notification handed to one device's core shows up on the peer it mirrors to, and
// only while mirroring to that peer is on.
#include <gtest/gtest.h>

#include <signal.h>

#include <thread>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

using NotificationMirror = NetworkFixture<2>;

TEST_F(NotificationMirror, ReachesThePeerOnlyWhileItsMirroringIsOn) {
    const auto& a = net_->device(0);
    const auto& b = net_->device(1);
    auto mesk_a = start_mesk_session(*net_, a);
    auto mesk_b = start_mesk_session(*net_, b);
    ASSERT_TRUE(mesk_a && mesk_b);
    const std::string b_id = mesk_b->id();
    ASSERT_TRUE(mesk_a->lists({{b_id, b.address}}, clock_type::now() + 10s)) << "A never met B";
    ASSERT_TRUE(mesk_b->lists({{mesk_a->id(), a.address}}, clock_type::now() + 10s)) << "B never met A";

    // A's own setting for B says whether A's notifications go to B.
    auto mirror_to_b = [&](int on) {
        const Json body(Json::object{{"id", b_id}, {"send_notifications", on}});
        EXPECT_EQ(mesk_a->request("/change_send_notifications", body.dump())["status"].string_value(), "success");
    };
    auto notify = [&](const std::string& title) {
        const Json body(Json::object{{"title", title}, {"description", "about " + title}});
        EXPECT_EQ(mesk_a->request("/add_notification", body.dump())["status"].string_value(), "success");
    };

    mirror_to_b(1);
    notify("first");
    const Json first = mesk_b->event("mirror_notification", 10s);
    ASSERT_FALSE(first.is_null()) << "B got no mirror_notification";
    EXPECT_EQ(first["title"].string_value(), "first");
    EXPECT_EQ(first["description"].string_value(), "about first");

    mirror_to_b(0);
    notify("second");
    // The setting counts when the mirror takes the notification: let it take this one
    // before the setting changes again.
    std::this_thread::sleep_for(2s);
    mirror_to_b(1);
    notify("third");
    // Notifications go out in order: once "third" is there, "second" would have come.
    const Json next = mesk_b->event("mirror_notification", 10s);
    ASSERT_FALSE(next.is_null()) << "B got nothing after mirroring was on again";
    EXPECT_EQ(next["title"].string_value(), "third") << "mirrored while off";
    EXPECT_TRUE(mesk_a->quit());
    EXPECT_TRUE(mesk_b->quit());
}

}  // namespace
