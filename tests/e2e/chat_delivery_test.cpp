// Chats typed on one device reach the other over the real network, also when the other
// was down while they were typed.
#include <gtest/gtest.h>

#include <signal.h>

#include <set>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

class ChatDelivery : public NetworkFixture<2> {
protected:
    // A text chat typed on the interface of `from`.
    static Json type_chat(MeskSession& from, const std::string& to, const std::string& id, const std::string& text) {
        return from.request(
            "/create_chat",
            Json(Json::object{{"id", id}, {"sender", from.id()}, {"receiver", to}, {"type", "text"}, {"data", text}})
                .dump());
    }

    static auto chat_id_is(const std::string& id) {
        return [id](const Json& e) { return e["info"]["id"].string_value() == id; };
    }
};

TEST_F(ChatDelivery, ATypedChatReachesThePeerAndChatsTypedWhileItWasDownFollowInOrderOnce) {
    const auto& a = net_->device(0);
    const auto& b = net_->device(1);
    auto mesk_a = start_mesk_session(*net_, a);
    auto mesk_b = start_mesk_session(*net_, b);
    ASSERT_TRUE(mesk_a && mesk_b);
    const std::string a_id = mesk_a->id();
    const std::string b_id = mesk_b->id();
    ASSERT_TRUE(mesk_a->lists({{b_id, b.address}}, clock_type::now() + 10s)) << "A never met B";

    EXPECT_EQ(type_chat(*mesk_a, b_id, "first-chat", "hi")["status"].string_value(), "success");
    const Json arrived = mesk_b->event("new_chat", 5s, chat_id_is("first-chat"));
    ASSERT_FALSE(arrived.is_null()) << "B got no new_chat";
    EXPECT_EQ(arrived["info"]["data"].string_value(), "hi");
    EXPECT_EQ(arrived["info"]["sender"].string_value(), a_id);
    EXPECT_FALSE(
        mesk_a->event("mark_chat_as_sent", 5s, [](const Json& e) { return e["id"].string_value() == "first-chat"; })
            .is_null())
        << "A was not told the chat went out";

    // B goes away without a word; A keeps typing.
    mesk_b->process().send_signal(SIGKILL);
    ASSERT_TRUE(mesk_b->process().wait_exit(10s));
    mesk_b.reset();
    std::vector<std::string> typed;
    for (int i = 1; i <= 15; ++i) {
        typed.push_back("while-down-" + std::to_string(i));
        EXPECT_EQ(type_chat(*mesk_a, b_id, typed.back(), "message " + std::to_string(i))["status"].string_value(),
                  "success");
    }

    // B comes back with its data: its id and key are the ones A knows.
    mesk_b = start_mesk_session(*net_, b);
    ASSERT_TRUE(mesk_b);
    ASSERT_EQ(mesk_b->id(), b_id);
    std::vector<std::string> received;
    const auto deadline = clock_type::now() + 30s;
    while (received.size() < typed.size() && clock_type::now() < deadline) {
        const Json e = mesk_b->event(
            "new_chat", std::chrono::duration_cast<std::chrono::milliseconds>(deadline - clock_type::now()));
        if (e.is_null()) break;
        received.push_back(e["info"]["id"].string_value());
    }
    EXPECT_EQ(received, typed) << "not all of them, or not in the order typed";
    for (const std::string& id : typed) {
        EXPECT_FALSE(
            mesk_a->event("mark_chat_as_sent", 10s, [&](const Json& e) { return e["id"].string_value() == id; })
                .is_null())
            << id << " not marked sent on A";
    }
    // Nothing comes a second time, on either side.
    for (const Json& again : mesk_b->events_within("new_chat", 3s))
        ADD_FAILURE() << "B got a chat again: " << again.dump();
    for (const Json& again : mesk_a->events_within("mark_chat_as_sent", 1s))
        ADD_FAILURE() << "A marked a chat sent twice: " << again.dump();
    EXPECT_TRUE(mesk_a->quit());
    EXPECT_TRUE(mesk_b->quit());
}

}  // namespace
