#include "core_lib/foundation/announce_datagram.h"

#include <gtest/gtest.h>

#include <string>

namespace vandrel {
namespace {

TEST(ParseDatagram, ThreeFieldsAreCopiedOut) {
    struct Case {
        std::string text, id, sys_info, alias;
    };
    const Case cases[] = {
        {"abc|model|Brave Zebra", "abc", "model", "Brave Zebra"},
        {"||", "", "", ""},
        {" id | m |a ", " id ", " m ", "a "},  // nothing is trimmed
        {std::string(64, 'f') + "|Vendor Model|\xC3\x84 Fox", std::string(64, 'f'), "Vendor Model", "\xC3\x84 Fox"},
    };
    for (const Case& c : cases) {
        std::string id = "old", sys_info = "old", alias = "old";
        ASSERT_TRUE(parse_datagram(c.text, id, sys_info, alias)) << c.text;
        EXPECT_EQ(id, c.id);
        EXPECT_EQ(sys_info, c.sys_info);
        EXPECT_EQ(alias, c.alias);
    }
}

TEST(ParseDatagram, OtherFieldCountsLeaveOutputsAlone) {
    for (const std::string text : {"a|b", "a|b|c|d", "a|b|c|", "|a|b|", "", "abc", "|||"}) {
        std::string id = "id0", sys_info = "sys0", alias = "alias0";
        EXPECT_FALSE(parse_datagram(text, id, sys_info, alias)) << "'" << text << "'";
        EXPECT_EQ(id, "id0");
        EXPECT_EQ(sys_info, "sys0");
        EXPECT_EQ(alias, "alias0");
    }
}

TEST(FormatDatagram, RoundTripsUnlessAFieldHoldsTheSeparator) {
    const std::string id = std::string(32, 'a') + std::string(32, '0');
    EXPECT_EQ(format_datagram(id, "Vendor Model", "Brave Zebra"), id + "|Vendor Model|Brave Zebra");
    EXPECT_EQ(format_datagram("", "", ""), "||");

    std::string got_id, got_sys, got_alias;
    ASSERT_TRUE(parse_datagram(format_datagram(id, "Vendor Model", "Brave Zebra"), got_id, got_sys, got_alias));
    EXPECT_EQ(got_id, id);
    EXPECT_EQ(got_sys, "Vendor Model");
    EXPECT_EQ(got_alias, "Brave Zebra");

    EXPECT_FALSE(parse_datagram(format_datagram(id, "Model", "Brave|Zebra"), got_id, got_sys, got_alias));
    EXPECT_FALSE(parse_datagram(format_datagram(id, "A|B", "Fox"), got_id, got_sys, got_alias));
}

}  // namespace
}  // namespace vandrel
