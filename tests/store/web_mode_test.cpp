#include "core_lib/net/web_mode.h"

#include <chrono>
#include <thread>

#include <gtest/gtest.h>

namespace vandrel {
namespace {

// Waits up to two seconds for the marker to read `expected`.
bool marker_becomes(std::uint64_t expected) {
    for (int i = 0; i < 200; ++i) {
        if (get_web_mode_thread() == expected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

class WebModeTest : public ::testing::Test {
protected:
    void TearDown() override {
        set_web_mode_state("0");
        clear_web_mode_thread();
        std::this_thread::sleep_for(std::chrono::milliseconds(120));  // loops see the state
        set_web_mode_state("unknown");
    }
};

TEST_F(WebModeTest, OneServerThreadWhileTheStateIsOne) {
    set_web_mode_state("1");
    start_web_mode();
    const std::uint64_t marker = get_web_mode_thread();
    EXPECT_NE(marker, 0u);
    start_web_mode();
    EXPECT_EQ(get_web_mode_thread(), marker);

    set_web_mode_state("0");
    EXPECT_TRUE(marker_becomes(0));
}

TEST_F(WebModeTest, AReplacedLoopEndsWithoutClearingItsSuccessor) {
    set_web_mode_state("1");
    start_web_mode();
    const std::uint64_t first = get_web_mode_thread();
    // Off and on again before the first loop has looked at the state.
    set_web_mode_state("0");
    clear_web_mode_thread();
    set_web_mode_state("1");
    start_web_mode();
    const std::uint64_t second = get_web_mode_thread();
    EXPECT_NE(second, 0u);
    EXPECT_NE(second, first);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(get_web_mode_thread(), second);
}

}  // namespace
}  // namespace vandrel
