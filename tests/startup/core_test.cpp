#include "core_lib/startup/core.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "MeskRuntimeComponent/hotspot.h"
#include "MeskRuntimeComponent/network_manager_hotspot.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/json.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/store/settings.h"
#include "tests/support/net_test_support.h"
#include "tests/support/recording_platform.h"
#include "tests/support/standin_programs.h"
#include "tests/support/stub_peer.h"
#include "tests/support/test_core.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;

// A core over a recording platform in a temporary folder, listening on 127.0.0.1 at
// ports the system picks (or the ones given).
class CoreLife : public ::testing::Test {
protected:
    std::unique_ptr<core> make_core(std::uint16_t rest_port = 0, std::uint16_t loopback_port = 0,
                                    std::shared_ptr<hotspot_service> hotspot = nullptr) {
        platform = std::make_shared<testing::recording_platform>();
        platform->set_data_folder(folder.path());
        platform->set_local_folder(folder.path());
        core_config config = testing::loopback_core_config(platform, ui.sink());
        config.network.rest_port = rest_port;
        config.network.loopback_port = loopback_port;
        config.hotspot = std::move(hotspot);
        return std::make_unique<core>(std::move(config));
    }

    static bool accepts(std::uint16_t port) {
        boost::asio::io_context io;
        boost::asio::ip::tcp::socket socket(io);
        boost::system::error_code ec;
        socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
        return !ec;
    }

    test::temp_folder folder;
    std::shared_ptr<testing::recording_platform> platform;
    testing::recording_ui_sink ui;
};

TEST_F(CoreLife, StartServesAndStopClosesEverything) {
    auto running = make_core();
    running->start();
    ASSERT_FALSE(ui.texts().empty());
    EXPECT_EQ(ui.texts().back(), "core_started");
    const std::uint16_t rest = running->rest_port();
    const std::uint16_t loopback = running->loopback_port();
    ASSERT_NE(rest, 0);
    ASSERT_NE(loopback, 0);
    EXPECT_EQ(test::http_exchange(rest, true, "POST", "/api/v1/hello_world", "{}").body, R"({"status": "success"})");
    // Web share is on at start by default; its thread belongs to the core too.
    EXPECT_TRUE(is_web_mode_running());

    running->stop();
    EXPECT_FALSE(accepts(rest));
    EXPECT_FALSE(accepts(loopback));
    EXPECT_EQ(running->rest_port(), 0);
    running->stop();  // a second stop does nothing
    running.reset();
    // Nothing of it stays bound: the free functions say so.
    EXPECT_THROW(get_userid(), std::logic_error);
}

TEST_F(CoreLife, StartUpAnnouncesTheHotspotOnceItRunsAndStopEndsIt) {
    testing::StandinNmcli nm;
    nm.set_devices({"wlan0:wifi:disconnected:"});
    nm.set_access_points({"wlan0"});
    nm.set_device_state("wlan0", "30 (disconnected)", "");
    NetworkManagerConfig config;
    config.nmcli = nm.program();
    config.leases_folder = nm.leases_folder();
    config.interface_present = [](const std::string&) { return true; };
    auto running = make_core(
        0, 0,
        std::make_shared<WlanHostedNetworkHelper>(std::make_shared<NetworkManagerHotspotBackend>(std::move(config))));
    running->start();
    ASSERT_TRUE(testing::wait_until([&] { return ui.count("hotspot_created") == 1; }, 30s));
    EXPECT_EQ(nm.count("--wait 60 connection up mesk-hotspot"), 1u);

    // The hotspot does not outlive the core: its thread has ended by the time stop()
    // returns, and took the hotspot down.
    running->stop();
    EXPECT_EQ(nm.count("connection down mesk-hotspot"), 1u);
    EXPECT_EQ(ui.count("hotspot_stopped"), 0u);
}

TEST_F(CoreLife, OneCoreAtATimeAndAnotherOnceItIsGone) {
    auto first = make_core();
    EXPECT_THROW(make_core(), std::logic_error);
    const std::string id = (first->start(), get_userid());
    first.reset();
    auto second = make_core();
    second->start();
    EXPECT_EQ(get_userid(), id) << "the same data folder keeps its device";
}

TEST_F(CoreLife, APortThatIsTakenIsAnErrorTheCallerSees) {
    test::temp_folder other;
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor taken(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    auto running = make_core(taken.local_endpoint().port());
    running->start();
    EXPECT_EQ(running->rest_port(), 0);
    EXPECT_NE(running->loopback_port(), 0) << "the other server starts all the same";
    bool reported = false;
    for (const std::string& text : ui.texts()) {
        std::string error;
        const Json event = Json::parse(text, error);
        reported |= event["action"].string_value() == "service_not_started" &&
                    event["service"].string_value() == "rest server" &&
                    event["message"].string_value().rfind("could not bind to local host", 0) == 0;
    }
    EXPECT_TRUE(reported);
    EXPECT_EQ(ui.texts().back(), "core_started");
}

TEST_F(CoreLife, StopWhileStartingInTheBackgroundWaitsForTheStartUp) {
    auto running = make_core();
    running->start_in_background();
    running->stop();
    // Either it had started and was stopped, or it stops before it started: no server stays.
    EXPECT_EQ(running->rest_port(), 0);
    EXPECT_EQ(running->loopback_port(), 0);
}

TEST_F(CoreLife, StopEndsQueuedWorkAndWakesTheQueues) {
    auto running = make_core();
    running->start();
    std::atomic<int> ran{0};
    for (int i = 0; i < 50; ++i) {
        start_background_job("counts", [&ran] {
            std::this_thread::sleep_for(1ms);
            ++ran;
        });
    }
    running->stop();
    EXPECT_EQ(ran.load(), 50) << "queued jobs finish before the pool goes";
}

}  // namespace
}  // namespace vandrel
