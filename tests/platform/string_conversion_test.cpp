#include "core_lib/platform/string_conversion.h"

#include <gtest/gtest.h>

namespace vandrel {
namespace {

TEST(StringConversion, Utf8Validity) {
    struct Case {
        std::string text;
        bool valid;
    };
    const Case cases[] = {
        {"", true},
        {"plain ascii", true},
        {"Z\xC3\xA9phyr \xC3\xA0 l'\xC3\xA9t\xC3\xA9", true},  // accented letters
        {"\xE2\x82\xAC", true},                                // euro sign, three bytes
        {"\xF0\x9F\x98\x80", true},                            // outside the 16-bit plane
        {"\xF4\x8F\xBF\xBF", true},                            // U+10FFFF
        {"\x80", false},                                       // stray continuation
        {"\xC3", false},                                       // cut sequence
        {"\xC3(", false},                                      // missing continuation
        {"\xC0\xAF", false},                                   // overlong "/"
        {"\xE0\x80\xAF", false},                               // overlong, three bytes
        {"\xED\xA0\x80", false},                               // surrogate
        {"\xF4\x90\x80\x80", false},                           // above U+10FFFF
        {"\xFF", false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_valid_utf8(c.text), c.valid) << c.text;
}

TEST(StringConversion, TextForUiIsCutAtTheFirstNulAndDroppedWhenNotUtf8) {
    EXPECT_EQ(text_for_ui(std::string("core_\0started", 13)), "core_");
    EXPECT_EQ(text_for_ui(""), "");
    EXPECT_EQ(text_for_ui("Ren\xC3\xA9"), "Ren\xC3\xA9");
    EXPECT_EQ(text_for_ui("bad \xC3"), std::nullopt);
    // What follows the NUL is never looked at.
    EXPECT_EQ(text_for_ui(std::string("ok\0\xFF", 4)), "ok");
}

}  // namespace
}  // namespace vandrel
