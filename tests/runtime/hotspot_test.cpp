#include "MeskRuntimeComponent/hotspot.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/platform/platform_state.h"
#include "tests/support/simulated_hotspot.h"

namespace vandrel {
namespace {

class HotspotHelperTest : public ::testing::Test {
protected:
    HotspotHelperTest() {
        platform.set_sink([this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(text);
        });
    }

    std::vector<std::string> take_events() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(events, {});
    }

    platform_state platform;
    current_platform::binding bound{platform};
    std::shared_ptr<testing::SimulatedHotspotBackend> backend = std::make_shared<testing::SimulatedHotspotBackend>();
    WlanHostedNetworkHelper helper{backend};
    std::mutex mutex;
    std::vector<std::string> events;
};

TEST_F(HotspotHelperTest, StartReportsCreatedThenStopReportsStopped) {
    EXPECT_FALSE(helper.IsStarted());
    EXPECT_EQ(helper.Ssid(), "");
    EXPECT_EQ(helper.Passphrase(), "");
    helper.Stop();  // before any start: nothing
    EXPECT_TRUE(take_events().empty());

    helper.Start("MeskWiFi-x", "12345678");
    EXPECT_TRUE(helper.IsStarted());
    EXPECT_EQ(
        take_events(),
        (std::vector<std::string>{R"({"action": "hotspot_created", "password": "12345678", "ssid": "MeskWiFi-x"})"}));

    helper.Stop();
    EXPECT_FALSE(helper.IsStarted());
    EXPECT_EQ(take_events(),
              (std::vector<std::string>{R"({"action": "hotspot_stopped", "reason": "hotspot stopped by user"})"}));
    // The credentials stay after a stop.
    EXPECT_EQ(helper.Passphrase(), "12345678");
}

TEST_F(HotspotHelperTest, AnAbortCarriesItsReason) {
    const struct {
        PublisherError error;
        const char* reason;
    } cases[] = {
        {PublisherError::RadioNotAvailable, "Your Wi-Fi is turned off. Please turn it on."},
        {PublisherError::ResourceInUse, "Wi-Fi direct is already in use. Please restart your device."},
        {PublisherError::Other, "Reason: Unknown. Is your Wi-Fi turned on ?"},
    };
    for (const auto& c : cases) {
        helper.Start("n", "p");
        take_events();
        backend->Abort(c.error);
        EXPECT_FALSE(helper.IsStarted());
        const std::vector<std::string> got = take_events();
        ASSERT_EQ(got.size(), 1u);
        std::string err;
        EXPECT_EQ(Json::parse(got[0], err)["reason"].string_value(), c.reason);
    }
}

TEST_F(HotspotHelperTest, ARestartDropsTheEarlierPublishersHandler) {
    helper.Start("first", "11111111");
    helper.Start("second", "22222222");
    take_events();
    helper.Stop();
    // One stop for the current publisher only.
    EXPECT_EQ(take_events().size(), 1u);
    EXPECT_EQ(helper.Ssid(), "second");
}

TEST_F(HotspotHelperTest, TheFeatureIsTheBackendsAndAJoiningDeviceIsOnlyNoted) {
    EXPECT_TRUE(helper.has_feature());
    backend->SetFeature(false);
    EXPECT_FALSE(helper.has_feature());

    helper.Start("n", "p");
    take_events();
    ::testing::internal::CaptureStderr();
    backend->Join({"aa:bb:cc:dd:ee:ff", "192.168.137.23", "phone"});
    backend->Join({"aa:bb:cc:dd:ee:00", "192.168.137.24", ""});
    const std::string noted = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(noted.find("phone joined at 192.168.137.23"), std::string::npos) << noted;
    EXPECT_NE(noted.find("aa:bb:cc:dd:ee:00 joined at 192.168.137.24"), std::string::npos) << noted;
    EXPECT_TRUE(take_events().empty());
}

}  // namespace
}  // namespace vandrel
