#include "core_lib/store/config.h"

#include <gtest/gtest.h>

#include <SQLiteCpp/Exception.h>

#include "core_lib/store/db_pool.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

struct value_case {
    const char* name;
    std::string value;
};

class ConfigValueTest : public StoreTest, public ::testing::WithParamInterface<value_case> {};

TEST_P(ConfigValueTest, IsReadBackByteForByte) {
    db_config_set(true, "key", GetParam().value);
    EXPECT_EQ(db_config_get(true, "key"), GetParam().value);
    EXPECT_EQ(store.number("select count(*) from config where config_key = 'key'"), 1);
}

INSTANTIATE_TEST_SUITE_P(Values, ConfigValueTest,
                         ::testing::Values(value_case{"plain", "value"}, value_case{"empty", ""},
                                           value_case{"quotes_and_semicolons", "it's \"x\"; drop table config; --"},
                                           value_case{"non_ascii", "Gr\xc3\xbc\xc3\x9f\x65 \xe2\x9c\x93"},
                                           value_case{"embedded_nul", std::string("a\0b", 3)}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

TEST_F(StoreTest, ConfigSetReplacesAndDeleteRemoves) {
    EXPECT_EQ(db_config_get(true, "never"), "");
    db_config_set(true, "k", "one");
    db_config_set(true, "k", "two");
    EXPECT_EQ(db_config_get(true, "k"), "two");
    EXPECT_EQ(store.number("select count(*) from config"), 1);
    db_config_delete(true, "missing");
    db_config_delete(true, "k");
    EXPECT_EQ(db_config_get(true, "k"), "");
    EXPECT_EQ(store.number("select count(*) from config"), 0);
}

TEST_F(StoreTest, ConfigWithoutLockRunsInsideAHeldLock) {
    std::lock_guard<std::mutex> lock(db_lock());
    db_config_set(false, "inner", "v");
    EXPECT_EQ(db_config_get(false, "inner"), "v");
    db_config_delete(false, "inner");
    EXPECT_EQ(db_config_get(false, "inner"), "");
}

struct failure_case {
    const char* name;
    void (*sabotage)(testing::temp_store& store);
};

class ConfigFailureTest : public StoreTest, public ::testing::WithParamInterface<failure_case> {};

TEST_P(ConfigFailureTest, EveryOperationThrows) {
    GetParam().sabotage(store);
    EXPECT_THROW(db_config_get(true, "k"), SQLite::Exception);
    EXPECT_THROW(db_config_set(true, "k", "v"), SQLite::Exception);
    EXPECT_THROW(db_config_delete(true, "k"), SQLite::Exception);
    // The lock is free again.
    EXPECT_TRUE(db_lock().try_lock());
    db_lock().unlock();
}

INSTANTIATE_TEST_SUITE_P(Failures, ConfigFailureTest,
                         ::testing::Values(failure_case{"database_unreachable",
                                                        [](testing::temp_store& s) {
                                                            s.platform().set_data_folder(s.root() + "/missing/");
                                                        }},
                                           failure_case{"table_unreadable",
                                                        [](testing::temp_store& s) {
                                                            s.exec("alter table config rename to config_away");
                                                        }}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

}  // namespace
}  // namespace vandrel
