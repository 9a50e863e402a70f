#include "core_lib/foundation/clock_random.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <map>
#include <set>
#include <stdexcept>
#include <string>

namespace vandrel {
namespace {

bool is_lower_hex(const std::string& text) { return text.find_first_not_of("0123456789abcdef") == std::string::npos; }

TEST(NowMs, FollowsTheWallClockInMilliseconds) {
    using namespace std::chrono;
    const auto before = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    const std::int64_t first = now_ms();
    const std::int64_t second = now_ms();
    const auto after = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
    EXPECT_LE(before, first);
    EXPECT_LE(first, second);
    EXPECT_LE(second, after);
    EXPECT_EQ(std::to_string(first).size(), 13u);
}

TEST(RandomInt, EqualBoundsLeaveTheEngineWhereItWas) {
    std::mt19937 expected = random_engine_snapshot();
    for (int i = 0; i < 100; ++i) ASSERT_EQ(random_int(5, 5), 5);
    EXPECT_EQ(random_int(INT_MIN, INT_MIN), INT_MIN);
    EXPECT_EQ(random_int(INT_MAX, INT_MAX), INT_MAX);
    // The next full-range draw is exactly the engine's next output.
    EXPECT_EQ(static_cast<std::uint32_t>(random_int(INT_MIN, INT_MAX)),
              static_cast<std::uint32_t>(static_cast<std::uint32_t>(INT_MIN) + expected()));
}

TEST(RandomInt, FullRangeTakesOneDrawAndWraps) {
    std::mt19937 expected = random_engine_snapshot();
    for (int i = 0; i < 1000; ++i) {
        const std::uint32_t raw = expected();
        ASSERT_EQ(random_int(INT_MIN, INT_MAX), static_cast<int>(static_cast<std::uint32_t>(INT_MIN) + raw));
    }
}

TEST(RandomInt, RejectsTheDrawsThatWouldFavourLowValues) {
    struct Case {
        int lo, hi;
    };
    // 0..252 almost never rejects; a span of 2^31 + 1 values rejects about half the draws.
    for (const Case c : {Case{0, 252}, Case{-1, INT_MAX}, Case{INT_MIN, 0}, Case{7, 9}, Case{0, 255}}) {
        const std::uint32_t n = static_cast<std::uint32_t>(c.hi) - static_cast<std::uint32_t>(c.lo) + 1;
        const bool all_accepted = 0xFFFFFFFFu % n == n - 1;  // n divides 2^32
        const std::uint32_t accepted_below = 0xFFFFFFFFu / n * n;
        std::mt19937 expected = random_engine_snapshot();
        for (int i = 0; i < 1000; ++i) {
            std::uint32_t w = static_cast<std::uint32_t>(expected());
            while (!all_accepted && w >= accepted_below) w = static_cast<std::uint32_t>(expected());
            ASSERT_EQ(random_int(c.lo, c.hi), static_cast<int>(static_cast<std::uint32_t>(c.lo) + w % n))
                << c.lo << ".." << c.hi << " draw " << i;
        }
    }
}

TEST(RandomInt, StaysWithinBoundsAndReachesBothEnds) {
    struct Case {
        int lo, hi;
    };
    for (const Case c :
         {Case{0, 1}, Case{-3, 3}, Case{0, 144}, Case{INT_MAX - 1, INT_MAX}, Case{INT_MIN, INT_MIN + 2}}) {
        std::set<int> seen;
        for (int i = 0; i < 20000; ++i) {
            const int value = random_int(c.lo, c.hi);
            ASSERT_GE(value, c.lo);
            ASSERT_LE(value, c.hi);
            seen.insert(value);
        }
        EXPECT_EQ(seen.size(), static_cast<std::size_t>(c.hi - c.lo + 1)) << c.lo << ".." << c.hi;
    }
}

TEST(RandomInt, ReversedBoundsAreRefused) {
    EXPECT_THROW(random_int(1, 0), std::invalid_argument);
    EXPECT_THROW(random_int(INT_MAX, INT_MIN), std::invalid_argument);
}

TEST(UuidToString, PadsWithZerosAndAddsNoBits) {
    struct Case {
        uuid_value uuid;
        std::string text;
    };
    const Case cases[] = {
        {{0, 0}, "00000000-0000-0000-0000-000000000000"},
        {{1, 0}, "00000000-0000-0001-0000-000000000000"},
        {{0, 1}, "00000000-0000-0000-0000-000000000001"},
        {{0x0123456789abcdefULL, 0xfedcba9876543210ULL}, "01234567-89ab-cdef-fedc-ba9876543210"},
        {{~0ULL, ~0ULL}, "ffffffff-ffff-ffff-ffff-ffffffffffff"},
    };
    for (const Case& c : cases) EXPECT_EQ(uuid_to_string(c.uuid), c.text);
}

TEST(MakeUuidV4, HasVersionAndVariant) {
    std::set<std::string> seen;
    for (int i = 0; i < 200; ++i) {
        const uuid_value uuid = make_uuid_v4();
        EXPECT_EQ((uuid.first_half >> 12) & 0xF, 4u);
        EXPECT_EQ(uuid.second_half >> 62, 2u);
        const std::string text = uuid_to_string(uuid);
        ASSERT_EQ(text.size(), 36u);
        for (std::size_t at : {8u, 13u, 18u, 23u}) EXPECT_EQ(text[at], '-') << text;
        EXPECT_EQ(text[14], '4') << text;
        EXPECT_NE(std::string("89ab").find(text[19]), std::string::npos) << text;
        std::string digits = text;
        std::erase(digits, '-');
        EXPECT_EQ(digits.size(), 32u);
        EXPECT_TRUE(is_lower_hex(digits)) << text;
        seen.insert(text);
    }
    EXPECT_EQ(seen.size(), 200u);
}

TEST(RandomString, SixtyFourLowerHexAndFresh) {
    const std::string first = random_string();
    const std::string second = random_string();
    EXPECT_EQ(first.size(), 64u);
    EXPECT_TRUE(is_lower_hex(first)) << first;
    EXPECT_EQ(second.size(), 64u);
    EXPECT_NE(first, second);
}

TEST(RandomPassphrase, TypeableCharactersDrawnEvenly) {
    const std::string alphabet = passphrase_alphabet;
    EXPECT_EQ(std::set<char>(alphabet.begin(), alphabet.end()).size(), alphabet.size());
    EXPECT_EQ(alphabet.find_first_of("01ilo"), std::string::npos);
    EXPECT_EQ(alphabet.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789"), std::string::npos);

    EXPECT_EQ(random_passphrase(0), "");
    std::map<char, int> counts;
    std::set<std::string> seen;
    constexpr int draws = 2000;
    for (int i = 0; i < draws; ++i) {
        const std::string key = random_passphrase(12);
        ASSERT_EQ(key.size(), 12u);
        for (char c : key) ++counts[c];
        seen.insert(key);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(draws));
    ASSERT_EQ(counts.size(), alphabet.size());
    // 24,000 characters over 31: about 774 each, give or take 27; the bounds lie more
    // than six of those away.
    for (const auto& [c, count] : counts) {
        EXPECT_NE(alphabet.find(c), std::string::npos) << c;
        EXPECT_GT(count, 600) << c;
        EXPECT_LT(count, 950) << c;
    }
}

}  // namespace
}  // namespace vandrel
