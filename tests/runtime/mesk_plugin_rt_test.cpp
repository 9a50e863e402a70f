#include "MeskRuntimeComponent/mesk_plugin_rt.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "core_lib/api/background_jobs.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/startup/core.h"

using MeskRuntimeComponent::MeskPluginRT;
using vandrel::Dispatcher;
using vandrel::DispatchPriority;
using namespace std::chrono_literals;

namespace {

// Drains the dispatcher until `done` holds or the time limit passes.
template <typename Pred>
bool drain_until(Dispatcher& d, Pred done, std::chrono::milliseconds limit = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        if (!d.run_one()) std::this_thread::sleep_for(1ms);
    }
    return true;
}

TEST(MeskPluginRT, InstanceIsOneObjectStartedOnceWithTheFirstReadersDispatcher) {
    std::atomic<int> startups{0};
    MeskPluginRT::SetStartup([&] { ++startups; });
    auto ui = Dispatcher::create();
    std::shared_ptr<MeskPluginRT> first;
    {
        vandrel::CurrentDispatcherScope scope(ui);
        first = MeskPluginRT::Instance();
    }
    auto second = MeskPluginRT::Instance();
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->HeldObject(), ui);
    auto ticks = 0;
    while (startups.load() == 0 && ++ticks < 1000) std::this_thread::sleep_for(10ms);
    EXPECT_EQ(startups.load(), 1);
    EXPECT_EQ(MeskPluginRT::Instance(), first);
    EXPECT_EQ(MeskPluginRT::Hello(), "hi");

    // send_to_ui reaches the instance's ToUI handlers on its dispatcher, in order.
    std::vector<std::string> seen;
    auto token = first->add_ToUI([&](const std::string& text) { seen.push_back(text); });
    vandrel::send_to_ui("core_started");
    vandrel::send_to_ui("{\"action\": \"peers_updated\"}");
    EXPECT_TRUE(seen.empty()) << "delivered outside the dispatcher";
    ui->drain();
    EXPECT_EQ(seen, (std::vector<std::string>{"core_started", "{\"action\": \"peers_updated\"}"}));
    first->remove_ToUI(token);
    vandrel::send_to_ui("after removal");
    ui->drain();
    EXPECT_EQ(seen.size(), 2u);

    // Shutdown ends the core: texts are dropped from then on, and no core stays bound.
    MeskPluginRT::Shutdown();
    first->add_ToUI([&](const std::string& text) { seen.push_back(text); });
    vandrel::send_to_ui("after shutdown");
    ui->drain();
    EXPECT_EQ(seen.size(), 2u);
    EXPECT_EQ(vandrel::current_store::find(), nullptr);
}

// The other tests use activated objects over a core of their own (not started).
class ActivatedObject : public ::testing::Test {
protected:
    vandrel::core running{vandrel::core_config{}};
};

TEST_F(ActivatedObject, DropsTextsUntilApiRequest) {
    auto object = MeskPluginRT::ActivateInstance();
    EXPECT_NE(object, MeskPluginRT::ActivateInstance());
    EXPECT_EQ(object->HeldObject(), nullptr);
    std::vector<std::string> seen;
    object->add_ToUI([&](const std::string& text) { seen.push_back(text); });
    object->SendToUI("dropped");

    auto ui = Dispatcher::create();
    std::atomic<int> replies{0};
    {
        vandrel::CurrentDispatcherScope scope(ui);
        object->ApiRequest("/hello_world", "{}", [&](const std::string&) { ++replies; });
    }
    EXPECT_EQ(object->HeldObject(), ui);
    ASSERT_TRUE(drain_until(*ui, [&] { return replies.load() == 1; }));
    object->SendToUI("kept");
    ui->drain();
    EXPECT_EQ(seen, std::vector<std::string>{"kept"});
}

TEST_F(ActivatedObject, EachReplyReachesItsCallbackOnceOnTheDispatcher) {
    auto object = MeskPluginRT::ActivateInstance();
    auto ui = Dispatcher::create();
    vandrel::CurrentDispatcherScope scope(ui);
    const auto ui_thread = std::this_thread::get_id();
    std::map<std::string, std::vector<std::string>> replies;
    bool off_thread = false;
    const std::string endpoints[] = {"/hello_world", "/no_such_endpoint", "/Hello_World", ""};
    for (const auto& endpoint : endpoints) {
        object->ApiRequest(endpoint, "{}", [&, endpoint](const std::string& reply) {
            off_thread |= std::this_thread::get_id() != ui_thread;
            replies[endpoint].push_back(reply);
        });
    }
    ASSERT_TRUE(drain_until(*ui, [&] { return replies.size() == std::size(endpoints); }));
    ASSERT_TRUE(vandrel::wait_for_background_jobs(10s));
    ui->drain();
    EXPECT_FALSE(off_thread);
    for (const auto& endpoint : endpoints) ASSERT_EQ(replies[endpoint].size(), 1u) << endpoint;
    EXPECT_EQ(replies["/hello_world"][0], "{\"status\": \"success\"}");
    EXPECT_EQ(replies["/no_such_endpoint"][0],
              "{\"endpoint\": \"/no_such_endpoint\", \"error_code\": \"unknown_endpoint\", \"status\": \"error\"}");
}

TEST_F(ActivatedObject, RequestFromAThreadWithoutDispatcherKeepsTheHeldOne) {
    auto object = MeskPluginRT::ActivateInstance();
    auto ui = Dispatcher::create();
    {
        vandrel::CurrentDispatcherScope scope(ui);
        object->ApiRequest("/hello_world", "{}", nullptr);
    }
    std::atomic<int> replies{0};
    std::thread([&] { object->ApiRequest("/hello_world", "{}", [&](const std::string&) { ++replies; }); }).join();
    EXPECT_EQ(object->HeldObject(), ui);
    EXPECT_TRUE(drain_until(*ui, [&] { return replies.load() == 1; }));
}

TEST_F(ActivatedObject, WithoutADispatcherTheReplyStillComesOnce) {
    auto object = MeskPluginRT::ActivateInstance();
    std::atomic<int> replies{0};
    std::string reply;
    std::mutex mutex;
    object->ApiRequest("/hello_world", "{}", [&](const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        reply = text;
        ++replies;
    });
    ASSERT_TRUE(vandrel::wait_for_background_jobs(10s));
    EXPECT_EQ(replies.load(), 1);
    EXPECT_EQ(reply, "{\"status\": \"success\"}");
}

TEST(MeskPluginRT, WithNoCoreRunningTheReplyIsAnError) {
    auto object = MeskPluginRT::ActivateInstance();
    std::vector<std::string> replies;
    object->ApiRequest("/hello_world", "{}", [&](const std::string& text) { replies.push_back(text); });
    EXPECT_EQ(replies, std::vector<std::string>{"{\"error_code\": \"internal_error\", \"status\": \"error\"}"});
}

}  // namespace
