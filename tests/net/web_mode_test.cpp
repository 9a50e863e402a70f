#include "core_lib/net/web_mode.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

TEST(WebShareSwitch, StartsOneServerThreadAndStopEndsIt) {
    web_share_switch web_share;
    EXPECT_FALSE(web_share.running());
    web_share.start();
    web_share.start();
    EXPECT_TRUE(web_share.running());
    web_share.stop();
    EXPECT_FALSE(web_share.running());
    web_share.stop();
}

TEST(WebShareSwitch, OffAndOnAgainRunsAgain) {
    web_share_switch web_share;
    for (int i = 0; i < 20; ++i) {
        web_share.start();
        web_share.stop();
    }
    web_share.start();
    EXPECT_TRUE(web_share.running());
}

}  // namespace
}  // namespace vandrel
