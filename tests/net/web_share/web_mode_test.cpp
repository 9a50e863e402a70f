#include "core_lib/net/web_share/web_mode.h"

#include <gtest/gtest.h>

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "core_lib/net/net_state.h"
#include "core_lib/store/settings.h"
#include "tests/net/web_share/web_share_fixture.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::web_test::test_page;
using namespace std::chrono_literals;

web_share_setup loopback_setup(std::uint16_t port = 0) {
    web_share_setup setup;
    setup.host = "127.0.0.1";
    setup.port = port;
    setup.limits = peer_server_limits();
    return setup;
}

bool accepts(std::uint16_t port) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    boost::system::error_code ec;
    socket.connect({boost::asio::ip::make_address("127.0.0.1"), port}, ec);
    return !ec;
}

// A port that was free a moment ago.
std::uint16_t free_port() {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor probe(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    return probe.local_endpoint().port();
}

TEST(WebShareSwitch, StartsOneServerAndStopEndsIt) {
    web_share_switch web_share;
    EXPECT_FALSE(web_share.running());
    EXPECT_EQ(web_share.port(), 0);
    std::string error;
    ASSERT_TRUE(web_share.start(loopback_setup(), error)) << error;
    const std::uint16_t port = web_share.port();
    ASSERT_TRUE(web_share.start(loopback_setup(), error)) << "a second start keeps the server it has";
    EXPECT_EQ(web_share.port(), port);
    EXPECT_TRUE(web_share.running());
    EXPECT_TRUE(accepts(port));
    web_share.stop();
    EXPECT_FALSE(web_share.running());
    EXPECT_FALSE(accepts(port));
    web_share.stop();
}

TEST(WebShareSwitch, OffAndOnAgainBindsTheSamePortAtOnce) {
    const std::uint16_t port = free_port();
    web_share_switch web_share;
    for (int i = 0; i < 20; ++i) {
        std::string error;
        ASSERT_TRUE(web_share.start(loopback_setup(port), error)) << "round " << i << ": " << error;
        // Every round serves: a page connects and is upgraded.
        test_page page(port, "/");
        EXPECT_TRUE(page.open()) << "round " << i;
        web_share.stop();
        EXPECT_TRUE(page.wait_closed(5s)) << "round " << i;
    }
}

TEST(WebShareSwitch, OffClosesTheListenerAndEveryConnection) {
    web_share_switch web_share;
    std::string error;
    ASSERT_TRUE(web_share.start(loopback_setup(), error)) << error;
    const std::uint16_t port = web_share.port();
    test_page page(port, "/anything");
    ASSERT_TRUE(page.open());
    test::test_connection idle(port, false);
    ASSERT_TRUE(idle.connected());
    web_share.stop();
    EXPECT_TRUE(page.wait_closed(5s));
    EXPECT_TRUE(idle.closed_by_server(5s));
    EXPECT_FALSE(accepts(port));
}

TEST(WebShareSwitch, APortThatIsTakenIsAnError) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor taken(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    web_share_switch web_share;
    std::string error;
    EXPECT_FALSE(web_share.start(loopback_setup(taken.local_endpoint().port()), error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    EXPECT_FALSE(web_share.running());
}

// The switch as the running core has it: the web-mode setting drives it.
class WebModeSetting : public ::testing::Test {
protected:
    void follow(std::uint16_t web_port) {
        net_config config = testing::temp_services::never_reached();
        config.bind_address = "127.0.0.1";
        config.web_port = web_port;
        services = std::make_unique<testing::temp_services>(config);
        set_web_mode_listener([](bool on) { on ? start_web_mode() : stop_web_mode(); });
    }
    void TearDown() override {
        set_web_mode_listener(nullptr);
        services.reset();
    }
    // The messages of the web share's "service_not_started" events.
    std::vector<std::string> reports() {
        std::vector<std::string> found;
        for (const std::string& text : store.ui().texts()) {
            std::string error;
            const Json event = Json::parse(text, error);
            if (event["action"].string_value() == "service_not_started" &&
                event["service"].string_value() == "web share")
                found.push_back(event["message"].string_value());
        }
        return found;
    }

    testing::temp_store store;
    std::unique_ptr<testing::temp_services> services;
};

TEST_F(WebModeSetting, OnServesOnTheBindAddressAndOffCloses) {
    const std::uint16_t port = free_port();
    follow(port);
    set_web_mode(true);
    EXPECT_TRUE(is_web_mode_running());
    EXPECT_EQ(current_net::get().web_share.port(), port);
    EXPECT_TRUE(accepts(port));
    set_web_mode(false);
    EXPECT_FALSE(accepts(port));
    set_web_mode(true);
    EXPECT_TRUE(accepts(port)) << "on again binds at once";
    EXPECT_TRUE(reports().empty());
    EXPECT_EQ(store.ui().count("device_updated"), 3u);
}

TEST_F(WebModeSetting, ATakenPortIsReportedOnceAndTheSwitchReadsOff) {
    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor taken(io, {boost::asio::ip::make_address("127.0.0.1"), 0});
    follow(taken.local_endpoint().port());
    set_web_mode(true);
    EXPECT_FALSE(is_web_mode_running());
    EXPECT_EQ(get_web_mode_state(), "0");
    EXPECT_FALSE(current_net::get().web_share.running());
    const auto reported = reports();
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find("in use"), std::string::npos) << reported[0];
    // The interface hears of it after the report, and reads the switch off.
    const auto texts = store.ui().texts();
    EXPECT_EQ(texts.back(), R"({"action": "device_updated"})");
}

}  // namespace
}  // namespace vandrel
