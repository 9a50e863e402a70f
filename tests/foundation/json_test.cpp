#include "core_lib/foundation/json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using vandrel::Json;

namespace {

struct DumpCase {
    const char* name;
    Json value;
    std::string expected;
};

TEST(JsonDump, GoldenCases) {
    const DumpCase cases[] = {
        {"null", Json(), "null"},
        {"true", Json(true), "true"},
        {"false", Json(false), "false"},
        {"int", Json(42), "42"},
        {"negative int", Json(-7), "-7"},
        {"tenth", Json(0.1), "0.10000000000000001"},
        {"whole double", Json(12.0), "12"},
        {"large integer", Json(1765432109876LL), "1765432109876"},
        {"int64 max", Json(std::numeric_limits<long long>::max()), "9223372036854775807"},
        {"uint64 past int64", Json(18446744073709551615ULL), "1.8446744073709552e+19"},
        {"nan", Json(std::nan("")), "null"},
        {"infinity", Json(std::numeric_limits<double>::infinity()), "null"},
        {"empty string", Json(""), "\"\""},
        {"escapes", Json(std::string("q\" b\\ \b\f\n\r\t")), "\"q\\\" b\\\\ \\b\\f\\n\\r\\t\""},
        {"control bytes", Json(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\x7f\""},
        {"nul byte", Json(std::string("a\0b", 3)), "\"a\\u0000b\""},
        {"line separators", Json("a\u2028b\u2029c"), "\"a\\u2028b\\u2029c\""},
        {"other utf8", Json("caf\u00e9 \u20ac"), "\"caf\u00e9 \u20ac\""},
        {"invalid utf8 passes", Json(std::string("\xff\xfe\x80 \xe2\x80", 6)),
         std::string("\"\xff\xfe\x80 \xe2\x80\"")},
        {"empty array", Json(Json::array{}), "[]"},
        {"empty object", Json(Json::object{}), "{}"},
        {"separators", Json(Json::object{{"b", Json::array{1, 2}}, {"a", 1}}), "{\"a\": 1, \"b\": [1, 2]}"},
        {"key byte order", Json(Json::object{{"b", 1}, {"B", 2}, {"\xc3\xa9", 3}, {"a", 4}, {"", 5}}),
         "{\"\": 5, \"B\": 2, \"a\": 4, \"b\": 1, \"\xc3\xa9\": 3}"},
        {"nesting", Json(Json::object{{"x", Json::array{Json::object{{"y", Json()}}, Json::array{}}}}),
         "{\"x\": [{\"y\": null}, []]}"},
        {"escaped key", Json(Json::object{{"a\"b", "c\n"}}), "{\"a\\\"b\": \"c\\n\"}"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.value.dump(), c.expected) << c.name;
}

TEST(JsonParse, ValuesRoundTrip) {
    const char* texts[] = {
        "null", "true",     "[1, 2.5, \"x\"]",    "{\"a\": {\"b\": [true, false, null]}}",
        "-12",  "1.5e+300", "\"\\u00e9\\u2028\"",
    };
    for (const char* text : texts) {
        std::string err;
        Json parsed = Json::parse(text, err);
        EXPECT_TRUE(err.empty()) << text << ": " << err;
        std::string err2;
        EXPECT_EQ(Json::parse(parsed.dump(), err2), parsed) << text;
    }
}

TEST(JsonParse, NumbersKeepTheirKind) {
    std::string err;
    Json j = Json::parse("{\"i\": 7, \"d\": 12.0, \"big\": 1765432109876, \"neg\": -3.9}", err);
    ASSERT_TRUE(err.empty());
    EXPECT_EQ(j["i"].dump(), "7");
    EXPECT_EQ(j["d"].dump(), "12");
    EXPECT_EQ(j["big"].int64_value(), 1765432109876LL);
    EXPECT_EQ(j["big"].int_value(), std::numeric_limits<int>::max());
    EXPECT_EQ(j["neg"].int_value(), -3);
    EXPECT_DOUBLE_EQ(j["i"].number_value(), 7.0);
}

TEST(JsonParse, DuplicateKeyKeepsTheLast) {
    std::string err;
    EXPECT_EQ(Json::parse("{\"a\": 1, \"a\": 2}", err)["a"].int_value(), 2);
}

TEST(JsonParse, FailuresGiveNullAndAnError) {
    const std::string cases[] = {
        "",
        "{",
        "[1, 2",
        "{\"a\" 1}",
        "{'a': 1}",
        "[1,]",
        "nul",
        "01",
        "{} x",
        "[1] [2]",
        "\"unterminated",
        "\"bad \\q escape\"",
        std::string("\"\xff\xfe\""),
        std::string("\"\xc3\""),
        std::string("\"a\0b\"", 5),
        "\"raw\ncontrol\"",
    };
    for (const auto& text : cases) {
        std::string err;
        Json j = Json::parse(text, err);
        EXPECT_TRUE(j.is_null()) << text;
        EXPECT_FALSE(err.empty()) << text;
    }
}

TEST(JsonParse, TrailingWhitespaceIsFine) {
    std::string err;
    EXPECT_EQ(Json::parse(" {\"a\": 1}\n\t ", err)["a"].int_value(), 1);
    EXPECT_TRUE(err.empty());
}

TEST(JsonParse, NestingDepthLimit) {
    auto nested = [](int depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    std::string err;
    EXPECT_TRUE(Json::parse(nested(Json::max_depth), err).is_array());
    EXPECT_TRUE(err.empty());
    EXPECT_TRUE(Json::parse(nested(Json::max_depth + 1), err).is_null());
    EXPECT_FALSE(err.empty());
    std::string objects;
    for (int i = 0; i < Json::max_depth + 1; ++i) objects += "{\"a\":";
    objects += "1" + std::string(Json::max_depth + 1, '}');
    EXPECT_TRUE(Json::parse(objects, err).is_null());
    EXPECT_FALSE(err.empty());
    // A very deep document fails cleanly rather than exhausting the stack.
    EXPECT_TRUE(Json::parse(nested(100000), err).is_null());
}

TEST(JsonRead, WrongTypesReadAsEmpty) {
    std::string err;
    const Json j = Json::parse("{\"s\": \"text\", \"n\": 5, \"b\": true, \"a\": [1], \"o\": {\"k\": 1}}", err);
    const Json values[] = {j["s"], j["n"], j["b"], j["a"], j["o"], j["missing"], Json()};
    for (const Json& v : values) {
        if (!v.is_string()) {
            EXPECT_EQ(v.string_value(), "") << v.dump();
        }
        if (!v.is_number()) {
            EXPECT_EQ(v.int_value(), 0) << v.dump();
            EXPECT_EQ(v.number_value(), 0.0) << v.dump();
        }
        if (!v.is_bool()) {
            EXPECT_FALSE(v.bool_value()) << v.dump();
        }
        if (!v.is_array()) {
            EXPECT_TRUE(v.array_items().empty()) << v.dump();
        }
        if (!v.is_object()) {
            EXPECT_TRUE(v.object_items().empty()) << v.dump();
        }
        EXPECT_TRUE(v["k"].is_null() || v.is_object());
        EXPECT_TRUE(v[5].is_null());
    }
    EXPECT_TRUE(j["a"][1].is_null());
    EXPECT_TRUE(j["a"][-1].is_null());
    EXPECT_EQ(j["a"][0].int_value(), 1);
    EXPECT_TRUE(j["s"]["deeper"]["still"].is_null());
}

TEST(JsonRead, HugeDoublesClampInsteadOfOverflowing) {
    EXPECT_EQ(Json(1e300).int_value(), std::numeric_limits<int>::max());
    EXPECT_EQ(Json(-1e300).int64_value(), std::numeric_limits<long long>::min());
    EXPECT_EQ(Json(std::nan("")).int_value(), 0);
}

TEST(JsonCompare, NumbersCompareByValue) {
    EXPECT_EQ(Json(1), Json(1.0));
    EXPECT_NE(Json(1), Json("1"));
    EXPECT_EQ(Json(Json::object{{"a", Json::array{1, "x"}}}), Json(Json::object{{"a", Json::array{1, "x"}}}));
    EXPECT_NE(Json(), Json(false));
}

}  // namespace
