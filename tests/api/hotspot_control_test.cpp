#include "core_lib/api/hotspot_control.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

TEST(HotspotSsid, AliasWithoutBlanks) {
    EXPECT_EQ(make_hotspot_ssid("brave otter"), "MeskWiFi-braveotter");
    EXPECT_EQ(make_hotspot_ssid(" brave  otter "), "MeskWiFi-braveotter");
}

TEST(HotspotSsid, LongNamesAreCutToThirtyTwoBytesOnACharacterBoundary) {
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
        const std::string ssid = make_hotspot_ssid(c.alias);
        EXPECT_EQ(ssid, c.expected_ssid) << c.alias;
        EXPECT_LE(ssid.size(), 32u);
    }
}

TEST(HotspotControl, WithoutAHotspotNothingStartsAndNothingIsTold) {
    testing::temp_store store;
    EXPECT_FALSE(has_hotspot_feature());
    EXPECT_FALSE(start_hotspot());
    EXPECT_TRUE(stop_hotspot());
    EXPECT_FALSE(is_hotspot_started());
    EXPECT_EQ(get_hotspot_ssid(), "");
    EXPECT_EQ(get_hotspot_passphrase(), "");
    EXPECT_TRUE(store.ui().texts().empty());
}

}  // namespace
}  // namespace vandrel
