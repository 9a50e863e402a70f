#include "core_lib/store/shared_pending.h"

#include <gtest/gtest.h>

#include "core_lib/foundation/sha256.h"
#include "core_lib/store/service_flags.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

bool take_changed_flag() { return take_shared_files_changed(); }

Json shared(const std::string& path, const std::string& name) {
    return Json::object{{"fileurl", path}, {"filename", name}};
}

TEST_F(StoreTest, SharingKeepsTheFirstNameAndAlwaysAnnounces) {
    db_add_shared_files({shared("/p/a", "first")});
    db_add_shared_files({shared("/p/a", "second")});
    db_add_shared_files({});
    EXPECT_EQ(db_get_shared_files(),
              (std::vector<Json>{Json::object{{"id", sha256_hex("/p/a")}, {"name", "first"}, {"type", "file"}}}));
    EXPECT_EQ(store.ui().count("shared_files_updated"), 3u);
    EXPECT_TRUE(take_changed_flag());
    EXPECT_EQ(db_get_shared_file(sha256_hex("/p/a")),
              Json(Json::object{{"id", sha256_hex("/p/a")}, {"filename", "first"}, {"fileurl", "/p/a"}}));
}

TEST_F(StoreTest, SharedEntryWithoutPathIsStoredOnce) {
    db_add_shared_files({Json::object{{"filename", "x"}}, Json::object{{"filename", "y"}}});
    EXPECT_EQ(store.rows("select id, path, name from shared_files"),
              (std::vector<std::vector<std::string>>{{sha256_hex(""), "", "x"}}));
}

TEST_F(StoreTest, SharedFilesListByFoldedName) {
    db_add_shared_files({shared("/1", "Beta"), shared("/2", "alpha"), shared("/3", "Gamma")});
    std::vector<std::string> names;
    for (const Json& entry : db_get_shared_files()) names.push_back(entry["name"].string_value());
    EXPECT_EQ(names, (std::vector<std::string>{"alpha", "Beta", "Gamma"}));
}

TEST_F(StoreTest, RemovingASharedFileRaisesTheFlagWithoutAnEvent) {
    db_add_shared_files({shared("/p/a", "a")});
    take_changed_flag();
    store.ui().clear();
    db_remove_shared_file(sha256_hex("/p/a"));
    EXPECT_TRUE(db_get_shared_files().empty());
    EXPECT_TRUE(take_changed_flag());
    db_remove_shared_file("missing");
    EXPECT_TRUE(take_changed_flag());
    EXPECT_TRUE(store.ui().texts().empty());
    EXPECT_TRUE(db_get_shared_file("missing").is_null());
}

TEST_F(StoreTest, PendingPathsKeepTheirFirstKind) {
    db_add_pending_file({"/f", "/both"});
    db_add_pending_folder({"/d", "/both"});
    std::map<std::string, Json> by_path;
    for (const Json& entry : db_get_pending_files()) by_path[entry["path"].string_value()] = entry["is_folder"];
    EXPECT_EQ(by_path, (std::map<std::string, Json>{{"/f", Json(0)}, {"/both", Json(0)}, {"/d", Json(1)}}));
    EXPECT_TRUE(by_path["/d"].is_number());
    db_clear_pending_files();
    EXPECT_TRUE(db_get_pending_files().empty());
}

TEST_F(StoreTest, TakingPendingFilesReadsAndClearsAtOnce) {
    db_add_pending_file({"/f"});
    db_add_pending_folder({"/d"});
    EXPECT_EQ(db_take_pending_files().size(), 2u);
    EXPECT_TRUE(db_get_pending_files().empty());
    EXPECT_TRUE(db_take_pending_files().empty());
}

}  // namespace
}  // namespace vandrel
