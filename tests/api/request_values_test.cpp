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

TEST(RequestValues, OffsetsPastTheLargestReadAsTheLargest) {
    constexpr std::uint64_t largest = 9223372036854775807ull;
    const struct {
        Json value;
        std::uint64_t expected;
    } cases[] = {
        {Json("20"), 20},
        {Json(" +20x"), 20},
        {Json("9223372036854775806"), largest - 1},
        {Json("9223372036854775807"), largest},
        {Json("9223372036854775808"), largest},
        {Json("18446744073709551615"), largest},
        {Json("18446744073709551616"), largest},
        {Json("99999999999999999999999999999999"), largest},
        {Json("-1"), 0},
        {Json("-99999999999999999999"), 0},
        {Json("abc"), 0},
        {Json(""), 0},
        {Json(20), 20},
        {Json(2.9), 2},
        {Json(-5), 0},
        {Json(9223372036854775807LL), largest},
        {Json(9223372036854775808.0), largest},
        {Json(1e30), largest},
        {Json(-1e30), 0},
        {Json(true), 0},
        {Json(), 0},
    };
    for (const auto& c : cases) EXPECT_EQ(read_offset(c.value), c.expected) << c.value.dump();
}

}  // namespace
}  // namespace vandrel
