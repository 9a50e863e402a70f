#include "core_lib/store/announce_text.h"

#include <gtest/gtest.h>

#include "core_lib/foundation/announce_datagram.h"
#include "core_lib/store/settings.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

TEST_F(StoreTest, DatagramParsesBackToTheGetters) {
    store.platform().set_device_model("linux/Laptop - Maker");
    const std::string datagram = make_datagram();
    std::string id, sys_info, alias;
    ASSERT_TRUE(parse_datagram(datagram, id, sys_info, alias));
    EXPECT_EQ(id, get_userid());
    EXPECT_EQ(sys_info, "linux/Laptop - Maker");
    EXPECT_EQ(alias, get_alias());
}

TEST_F(StoreTest, BarsInTheModelOrAliasKeepTheDatagramValid) {
    store.platform().set_device_model("a|b|c");
    store.exec("insert into config values ('alias_pro', 'Brave|Zebra')");
    std::string id, sys_info, alias;
    ASSERT_TRUE(parse_datagram(make_datagram(), id, sys_info, alias));
    EXPECT_EQ(sys_info, "abc");
    EXPECT_EQ(alias, "BraveZebra");
}

}  // namespace
}  // namespace vandrel
