#include "core_lib/api/request_values.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace vandrel {
namespace {

TEST(RequestValues, DecimalTextsConvertOrCountZero) {
    const struct {
        const char* text;
        std::uint64_t expected;
    } cases[] = {
        {"0", 0},
        {"42", 42},
        {"000123", 123},
        {"  7", 7},
        {"+9", 9},
        {"12abc", 12},
        {"18446744073709551615", 18446744073709551615ull},
        {"18446744073709551616", 0},
        {"99999999999999999999999", 0},
        {"-1", 0},
        {"abc", 0},
        {"", 0},
        {" ", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(parse_u64_or_zero(c.text), c.expected) << '"' << c.text << '"';
}

TEST(RequestValues, CountsReadNumbersAndTexts) {
    EXPECT_EQ(read_count(Json(5)), 5u);
    EXPECT_EQ(read_count(Json("5")), 5u);
    // A time in milliseconds does not fit 32 bits; it must not be cut.
    EXPECT_EQ(read_count(Json(1700000000123LL)), 1700000000123u);
    EXPECT_EQ(read_count(Json("1700000000123")), 1700000000123u);
    EXPECT_EQ(read_count(Json(-5)), 0u);
    EXPECT_EQ(read_count(Json(2.9)), 2u);
    EXPECT_EQ(read_count(Json(true)), 0u);
    EXPECT_EQ(read_count(Json()), 0u);
}

}  // namespace
}  // namespace vandrel
