#include "core_lib/net/web_share/web_share_guard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using verdict = web_code_guard::verdict;

// A guard on a clock the test moves.
class WebCodeGuard : public ::testing::Test {
protected:
    web_code_guard::clock::time_point now = web_code_guard::clock::time_point{} + 1000h;
    web_code_guard guard{[this] { return now; }};

    verdict guess(const std::string& address, const std::string& code) { return guard.check(address, code, "4711"); }
    void wrong_times(const std::string& address, int times) {
        for (int i = 0; i < times; ++i) EXPECT_EQ(guess(address, "0000"), verdict::wrong) << "guess " << i + 1;
    }
};

TEST_F(WebCodeGuard, TheLockStartsAfterFiveWrongCodesAndDoublesAfterThat) {
    wrong_times("a", 5);
    std::chrono::seconds retry{0};
    EXPECT_EQ(guard.check("a", "4711", "4711", &retry), verdict::locked);
    EXPECT_EQ(retry, 60s);
    // Each wrong code once a lock ran out earns twice the lock before it.
    std::chrono::seconds lock = 60s;
    for (const std::chrono::seconds next : {120s, 240s, 480s, 960s}) {
        now += lock - 1s;
        EXPECT_EQ(guess("a", "0000"), verdict::locked) << "a second before the end of " << lock.count() << " s";
        now += 1s;
        EXPECT_EQ(guess("a", "0000"), verdict::wrong);
        EXPECT_EQ(guard.check("a", "4711", "4711", &retry), verdict::locked);
        EXPECT_EQ(retry, next);
        lock = next;
    }
}

TEST_F(WebCodeGuard, TheLongestLockIsADay) {
    wrong_times("a", 5);
    for (int i = 0; i < 40; ++i) {
        now += 24h;
        EXPECT_EQ(guess("a", "0000"), verdict::wrong);
    }
    std::chrono::seconds retry{0};
    EXPECT_EQ(guard.check("a", "0000", "4711", &retry), verdict::locked);
    EXPECT_EQ(retry, 24h);
}

TEST_F(WebCodeGuard, ARightCodeClearsOnlyItsOwnAddress) {
    wrong_times("a", 4);
    wrong_times("b", 4);
    EXPECT_EQ(guess("a", "4711"), verdict::right);
    EXPECT_EQ(guard.addresses(), 1u);
    wrong_times("a", 4);
    EXPECT_EQ(guess("a", "4711"), verdict::right) << "four more wrong codes after a right one are not five";
    EXPECT_EQ(guess("b", "0000"), verdict::wrong);
    EXPECT_EQ(guess("b", "4711"), verdict::locked);
    EXPECT_EQ(guess("c", "4711"), verdict::right);
}

TEST_F(WebCodeGuard, NoCodeIsNoGuessAndNoStoredCodeMatchesNothing) {
    for (int i = 0; i < 20; ++i) EXPECT_EQ(guess("a", ""), verdict::missing);
    EXPECT_EQ(guard.addresses(), 0u);
    EXPECT_EQ(guard.check("a", "", "", nullptr), verdict::missing);
    EXPECT_EQ(guard.check("a", "x", "", nullptr), verdict::wrong);
    EXPECT_EQ(guess("a", "4711 "), verdict::wrong);
    EXPECT_EQ(guess("a", "471"), verdict::wrong);
}

TEST_F(WebCodeGuard, TheTableIsBoundedAndKeepsItsLocks) {
    wrong_times("locked", 5);
    for (std::size_t i = 0; i < web_code_guard::max_addresses * 2; ++i) {
        guard.check("10.0." + std::to_string(i), "0000", "4711");
    }
    EXPECT_EQ(guard.addresses(), web_code_guard::max_addresses);
    EXPECT_EQ(guess("locked", "4711"), verdict::locked) << "unlocked records go first";
}

}  // namespace
}  // namespace vandrel
