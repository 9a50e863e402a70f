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
    // Locked for a day, longer than the guesses below take.
    for (int i = 0; i < 12; ++i) {
        now += 24h;
        EXPECT_EQ(guess("locked", "0000"), verdict::wrong);
    }
    for (std::size_t i = 0; i < web_code_guard::max_addresses * 2; ++i) {
        // Slow enough for the budget of all addresses.
        if (i % (web_code_guard::wrong_codes_per_window - 2) == 0) now += web_code_guard::budget_window;
        const std::string address =
            "10." + std::to_string(i / 65536) + "." + std::to_string(i / 256 % 256) + "." + std::to_string(i % 256);
        EXPECT_EQ(guard.check(address, "0000", "4711"), verdict::wrong) << address;
    }
    EXPECT_EQ(guard.addresses(), web_code_guard::max_addresses);
    EXPECT_EQ(guess("locked", "4711"), verdict::locked) << "unlocked records go first";
}

TEST_F(WebCodeGuard, AnIpv6SlashSixtyFourIsOneAddress) {
    struct row {
        std::string address;
        verdict expected;
    };
    // Five wrong codes, each from another address of one /64.
    for (int i = 1; i <= 5; ++i) EXPECT_EQ(guess("fe80::" + std::to_string(i), "0000"), verdict::wrong);
    const std::vector<row> rows = {
        {"fe80::99", verdict::locked},     {"[fe80::abcd:1234:5678:9abc%eth0]", verdict::locked},
        {"fe80:0:0:1::1", verdict::right},  // another /64
        {"2001:db8::1", verdict::right},   {"::ffff:10.0.0.5", verdict::right},
        {"10.0.0.6", verdict::right},
    };
    for (const row& r : rows) EXPECT_EQ(guess(r.address, "4711"), r.expected) << r.address;
    // IPv4 addresses stay one each, as before.
    wrong_times("10.0.0.7", 5);
    EXPECT_EQ(guess("10.0.0.7", "4711"), verdict::locked);
    EXPECT_EQ(guess("10.0.0.8", "4711"), verdict::right);
}

// A guard whose lock-downs are recorded as the interface would be told them.
class WebCodeLockdown : public WebCodeGuard {
protected:
    std::vector<std::chrono::seconds> told;
    web_code_guard guard{[this] { return now; }, [this](std::chrono::seconds length) { told.push_back(length); }};

    verdict guess(const std::string& address, const std::string& code) { return guard.check(address, code, "4711"); }
    // One wrong code from each of `count` addresses, none of them locked alone.
    void spread_wrong(int count, int first = 0) {
        for (int i = first; i < first + count; ++i) {
            EXPECT_EQ(guess("10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250), "0000"), verdict::wrong)
                << "guess " << i;
        }
    }
};

TEST_F(WebCodeLockdown, PastTheBudgetEveryAddressIsRefusedAndTheInterfaceTold) {
    spread_wrong(web_code_guard::wrong_codes_per_window - 1);
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(guess("10.9.0.1", "4711"), verdict::right) << "within the budget";
    spread_wrong(1, 100);
    EXPECT_EQ(told, std::vector<std::chrono::seconds>{60s});
    // Even the right code, from an address never seen: the lock-down must not tell a
    // guess that happens to be right from one that is not.
    std::chrono::seconds retry{0};
    EXPECT_EQ(guard.check("10.9.0.2", "4711", "4711", &retry), verdict::locked);
    EXPECT_EQ(retry, 60s);
    EXPECT_EQ(guess("10.9.0.3", "0000"), verdict::locked);
    EXPECT_EQ(guess("10.9.0.3", ""), verdict::locked);
    EXPECT_EQ(told.size(), 1u) << "told once per lock-down";
    now += 60s;
    EXPECT_EQ(guess("10.9.0.2", "4711"), verdict::right);

    // Each lock-down in a row is twice the one before.
    spread_wrong(web_code_guard::wrong_codes_per_window, 200);
    now += 120s - 1s;
    EXPECT_EQ(guess("10.9.0.4", "4711"), verdict::locked);
    now += 1s;
    spread_wrong(web_code_guard::wrong_codes_per_window, 300);
    EXPECT_EQ(told, (std::vector<std::chrono::seconds>{60s, 120s, 240s}));
    // A day without one starts again from the first length.
    now += 240s + 24h;
    spread_wrong(web_code_guard::wrong_codes_per_window, 400);
    EXPECT_EQ(told.back(), 60s);
}

TEST_F(WebCodeLockdown, ABudgetWindowForgetsItsGuessesAfterAMinute) {
    spread_wrong(web_code_guard::wrong_codes_per_window - 1);
    now += web_code_guard::budget_window;
    spread_wrong(web_code_guard::wrong_codes_per_window - 1, 100);
    EXPECT_TRUE(told.empty());
    EXPECT_EQ(guess("10.9.0.1", "4711"), verdict::right);
}

TEST_F(WebCodeLockdown, EveryCodeFromManyAddressesDoesNotFitInADay) {
    // The fastest attacker: 150 IPv4 addresses and 2,000 IPv6 ones of one /64 in turn,
    // waiting exactly as long as it is told to whenever it is refused.
    std::vector<std::string> addresses;
    for (int i = 0; i < 150; ++i) addresses.push_back("10.2.0." + std::to_string(i));
    for (int i = 0; i < 2000; ++i) addresses.push_back("fe80::" + std::to_string(i + 1));
    const std::string code = "9158";
    const auto end = now + 24h;
    int compared = 0;
    std::size_t turn = 0;
    for (int next = 0; next < 10000 && now < end;) {
        std::string given = std::to_string(next);
        given.insert(0, 4 - given.size(), '0');
        std::chrono::seconds retry{0};
        const verdict answer = guard.check(addresses[turn++ % addresses.size()], given, code, &retry);
        ASSERT_NE(answer, verdict::right) << "the code was found after " << compared << " guesses";
        if (answer == verdict::wrong) {
            ++compared;
            ++next;
        } else if (turn % addresses.size() == 0) {
            // Every address refused in turn: wait for the shortest lock.
            now += retry;
        }
    }
    EXPECT_GE(now, end);
    EXPECT_LT(compared, 10000);
    EXPECT_FALSE(told.empty());
}

TEST_F(WebCodeLockdown, APageThatGaveTheCodeKeepsWorkingThroughLocks) {
    EXPECT_EQ(guess("fe80::1", "4711"), verdict::right);
    EXPECT_EQ(guess("10.3.0.1", "4711"), verdict::right);
    EXPECT_EQ(guess("10.3.0.2", "4711"), verdict::right);
    // Others of its /64 lock the group, then many addresses lock everything.
    for (int i = 2; i < 7; ++i) guess("fe80::" + std::to_string(i), "0000");
    spread_wrong(web_code_guard::wrong_codes_per_window - 5);
    ASSERT_FALSE(told.empty());
    EXPECT_EQ(guess("fe80::1", "4711"), verdict::right);
    EXPECT_EQ(guess("10.3.0.1", "4711"), verdict::right);
    // It cannot guess through them, and a new code must be given anew.
    EXPECT_EQ(guess("10.3.0.1", "1111"), verdict::locked);
    EXPECT_EQ(guess("10.3.0.1", "4711"), verdict::locked) << "a wrong code through a lock loses the pass";
    EXPECT_EQ(guess("10.3.0.2", "4711"), verdict::right) << "before the lock";
    EXPECT_EQ(guard.check("10.3.0.2", "5555", "5555"), verdict::locked);
    EXPECT_EQ(guess("fe80::2", "4711"), verdict::locked);
    // Known for a while only.
    now += web_code_guard::known_for;
    guess("fe80::7", "0000");
    EXPECT_EQ(guess("fe80::1", "4711"), verdict::locked);
}

TEST(WebCodeLockdownEvent, TellsTheLength) {
    EXPECT_EQ(lockdown_event(std::chrono::seconds(120)), R"({"action": "web_share_locked", "seconds": 120})");
}

}  // namespace
}  // namespace vandrel
