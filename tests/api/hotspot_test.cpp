#include "MeskRuntimeComponent/hotspot.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <utility>
#include <string>
#include <vector>

#include "MeskRuntimeComponent/ui_event_channel.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/sha256.h"

namespace vandrel {
namespace {

class HotspotHelperTest : public ::testing::Test {
protected:
    void SetUp() override {
        set_ui_sink([this](const std::string& text) {
            std::lock_guard<std::mutex> lock(mutex);
            events.push_back(text);
        });
    }
    void TearDown() override { set_ui_sink(nullptr); }

    std::vector<std::string> take_events() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(events, {});
    }

    std::shared_ptr<SimulatedHotspotBackend> backend = std::make_shared<SimulatedHotspotBackend>();
    WlanHostedNetworkHelper helper{backend};
    std::mutex mutex;
    std::vector<std::string> events;
};

TEST(HotspotCredentials, NameWithoutBlanksAndItsPassphrase) {
    const hotspot_credentials made = make_hotspot_credentials("brave otter");
    EXPECT_EQ(made.ssid, "MeskWiFi-braveotter");
    EXPECT_EQ(made.passphrase, sha256_hex("MeskWiFi-braveotter31415pawn27182").substr(0, 8));
    EXPECT_EQ(make_hotspot_credentials(" brave  otter ").passphrase, made.passphrase);
}

TEST(HotspotCredentials, LongNamesAreCutToThirtyTwoBytesOnACharacterBoundary) {
    const struct {
        std::string alias;
        std::string expected_ssid;
    } cases[] = {
        // 9 + 23 bytes fit exactly.
        {std::string(23, 'a'), "MeskWiFi-" + std::string(23, 'a')},
        {std::string(40, 'a'), "MeskWiFi-" + std::string(23, 'a')},
        // 22 ASCII bytes then a two-byte letter: it would straddle the cut, so it goes.
        {std::string(22, 'a') + "\xc3\xa9" + "b", "MeskWiFi-" + std::string(22, 'a')},
        // A two-byte letter that ends exactly at the cut stays.
        {std::string(21, 'a') + "\xc3\xa9" + "b", "MeskWiFi-" + std::string(21, 'a') + "\xc3\xa9"},
        // A four-byte character across the cut.
        {std::string(20, 'a') + "\xf0\x9f\xa6\xa6", "MeskWiFi-" + std::string(20, 'a')},
    };
    for (const auto& c : cases) {
        const hotspot_credentials made = make_hotspot_credentials(c.alias);
        EXPECT_EQ(made.ssid, c.expected_ssid) << c.alias;
        EXPECT_LE(made.ssid.size(), 32u);
        EXPECT_EQ(made.passphrase, sha256_hex(made.ssid + "31415pawn27182").substr(0, 8));
    }
}

TEST_F(HotspotHelperTest, StartReportsCreatedThenStopReportsStopped) {
    EXPECT_FALSE(helper.IsStarted());
    EXPECT_EQ(helper.Ssid(), "");
    EXPECT_EQ(helper.Passphrase(), "");
    helper.Stop();  // before any start: nothing
    EXPECT_TRUE(take_events().empty());

    helper.Start("MeskWiFi-x", "12345678");
    EXPECT_TRUE(helper.IsStarted());
    EXPECT_EQ(take_events(),
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

}  // namespace
}  // namespace vandrel
