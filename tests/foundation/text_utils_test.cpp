#include "core_lib/foundation/text_utils.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace vandrel {
namespace {

using Fields = std::vector<std::string>;

TEST(Split, KeepsEveryFieldIncludingEmptyOnes) {
    struct Case {
        std::string text, separator;
        Fields expected;
    };
    const Case cases[] = {
        {"a||b", "|", {"a", "", "b"}},
        {"a|b|", "|", {"a", "b", ""}},
        {"|a", "|", {"", "a"}},
        {"", "|", {""}},
        {"||", "|", {"", "", ""}},
        {"abc", "|", {"abc"}},
        {"192.168.1.7", ".", {"192", "168", "1", "7"}},
        {"a::b", "::", {"a", "b"}},
        {"a|b", "", {"a|b"}},
        {"", "", {""}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(split(c.text, c.separator), c.expected) << "'" << c.text << "' on '" << c.separator << "'";
    }
}

TEST(Trim, RemovesOnlySpaceBytesAtBothEnds) {
    const std::pair<std::string, std::string> cases[] = {
        {"  x y  ", "x y"}, {"   ", ""}, {"", ""}, {"\tx ", "\tx"}, {"x", "x"}, {" \r\n ", "\r\n"}, {"a  b", "a  b"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(trim(in), out) << "'" << in << "'";
}

TEST(ToLower, MapsOnlyAsciiCapitals) {
    EXPECT_EQ(to_lower("ABC-Zz"), "abc-zz");
    EXPECT_EQ(to_lower("@[`{"), "@[`{");                  // neighbours of the letter ranges
    const std::string high = "\xC3\x84\xC3\x96\x80\xFF";  // "ÄÖ" and raw high bytes
    EXPECT_EQ(to_lower(high), high);
    EXPECT_EQ(to_lower(std::string("A\0B", 3)), std::string("a\0b", 3));
}

TEST(StartsWith, ComparesBytesCaseSensitively) {
    struct Case {
        std::string text, prefix;
        bool expected;
    };
    const Case cases[] = {
        {"abc", "", true},   {"", "", true},       {"ab", "abc", false},  {"Abc", "a", false},
        {"abc", "ab", true}, {"abc", "abc", true}, {"abc", "abd", false}, {"", "a", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(starts_with(c.text, c.prefix), c.expected) << "'" << c.text << "' '" << c.prefix << "'";
    }
}

TEST(EraseAll, RemovesOccurrencesThatFormAnew) {
    struct Case {
        std::string text, pattern, expected;
    };
    const Case cases[] = {
        {"a-b-c", "-", "abc"}, {"aabb", "ab", ""},  {"aaabbb", "ab", ""},           {"abc", "", "abc"},
        {"", "x", ""},         {"xyz", "q", "xyz"}, {"../../a/../b", "../", "a/b"}, {".../", "../", "."},
        {"..././", "../", ""},  // "..././" -> "../" -> ""
        {"abab", "aba", "b"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(erase_all(c.text, c.pattern), c.expected) << "'" << c.text << "' less '" << c.pattern << "'";
    }
}

TEST(ReplaceAll, NeverSearchesInsertedText) {
    struct Case {
        std::string text, from, to, expected;
    };
    const Case cases[] = {
        {"a\\b\\c", "\\", "/", "a/b/c"}, {"aa", "a", "aa", "aaaa"},  {"abab", "ab", "", ""},
        {"xaay", "a", "ba", "xbabay"},   {"none", "q", "z", "none"}, {"", "a", "b", ""},
        {"abc", "", "X", "abc"},  // empty `from` leaves the text alone
    };
    for (const Case& c : cases) {
        std::string text = c.text;
        replace_all(text, c.from, c.to);
        EXPECT_EQ(text, c.expected) << "'" << c.text << "' '" << c.from << "'->'" << c.to << "'";
    }
}

TEST(JoinStrings, PutsSeparatorBetweenItems) {
    EXPECT_EQ(join_strings({}, "."), "");
    EXPECT_EQ(join_strings({"one"}, "."), "one");
    EXPECT_EQ(join_strings({"192", "168", "1", "255"}, "."), "192.168.1.255");
    EXPECT_EQ(join_strings({"", ""}, ", "), ", ");
    EXPECT_EQ(join_strings(split("a|b||c", "|"), "|"), "a|b||c");
}

TEST(PathParts, BothSeparatorsCount) {
    struct Case {
        std::string path, parent, name;
    };
    const Case cases[] = {
        {"name.txt", "", "name.txt"}, {"/", "/", ""},           {"dir\\sub\\b.txt", "dir\\sub\\", "b.txt"},
        {"x/y", "x/", "y"},           {"a/b\\c", "a/b\\", "c"}, {"a\\b/c", "a\\b/", "c"},
        {"folder\\", "folder\\", ""}, {"C:file", "", "C:file"}, {"", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parent_folder_of_path(c.path), c.parent) << c.path;
        EXPECT_EQ(file_name_of_path(c.path), c.name) << c.path;
    }
}

TEST(Utf8ToWstring, DecodesOneUnitPerCodePoint) {
    EXPECT_EQ(utf8_to_wstring(""), u"");
    EXPECT_EQ(utf8_to_wstring("plain"), u"plain");
    EXPECT_EQ(utf8_to_wstring("\xC3\xA4"), u"\u00E4");
    EXPECT_EQ(utf8_to_wstring("\xC2\x80\xDF\xBF"), u"\u0080\u07FF");          // 2-byte ends
    EXPECT_EQ(utf8_to_wstring("\xE0\xA0\x80\xEF\xBF\xBF"), u"\u0800\uFFFF");  // 3-byte ends
    EXPECT_EQ(utf8_to_wstring("\xED\x9F\xBF\xEE\x80\x80"), u"\uD7FF\uE000");  // around surrogates
    EXPECT_EQ(utf8_to_wstring("a\xE2\x82\xAC"
                              "b"),
              u"a\u20ACb");
    EXPECT_EQ(utf8_to_wstring(std::string("a\0b", 3)), std::u16string(u"a\0b", 3));
}

TEST(Utf8ToWstring, RejectsInvalidInputAndFourByteCodePoints) {
    const std::string bad[] = {
        "\x80",                      // stray continuation byte
        std::string("a\xBF") + "b",  // stray continuation byte inside
        "\xC3",                      // truncated 2-byte sequence
        "\xE2\x82",                  // truncated 3-byte sequence
        std::string("\xC3") + "a",   // continuation byte missing
        "\xC0\xAF",                  // overlong '/'
        "\xC1\xBF",                  // overlong 2-byte
        "\xE0\x80\xAF",              // overlong 3-byte
        "\xF0\x80\x80\xAF",          // overlong 4-byte
        "\xED\xA0\x80",              // high surrogate U+D800
        "\xED\xBF\xBF",              // low surrogate U+DFFF
        "\xF4\x90\x80\x80",          // above U+10FFFF
        "\xF8\x88\x80\x80\x80",      // 5-byte form
        "\xFE",
        "\xFF",
        "\xF0\x9F\x98\x80",  // U+1F600: valid, but needs two 16-bit units
        "\xF4\x8F\xBF\xBF",  // U+10FFFF
    };
    for (const std::string& text : bad) {
        try {
            utf8_to_wstring(text);
            ADD_FAILURE() << "accepted " << ::testing::PrintToString(text);
        } catch (const std::range_error& e) {
            EXPECT_STREQ(e.what(), "bad conversion");
        }
    }
}

}  // namespace
}  // namespace vandrel
