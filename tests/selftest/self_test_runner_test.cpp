// Runs of the self test over a whole core in this process: a run that goes wrong
// half-way, and a core stopped during a run, both leave the device as it was.
#include "core_lib/selftest/self_test_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <SQLiteCpp/Database.h>

#include "core_lib/api/api_dispatcher.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/config.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/settings.h"
#include "tests/selftest/self_test_core.h"
#include "tests/support/self_test_checks.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Generous: a sanitizer build moves the 100 MB file many times slower.
constexpr auto run_limit = 600s;

// Every regular file under the folder, by path relative to it.
std::set<std::string> files_under(const std::string& folder) {
    std::set<std::string> found;
    std::error_code error;
    for (fs::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        if (it->is_regular_file()) found.insert(fs::relative(it->path(), folder).string());
    }
    return found;
}

// Rows of the tables a run fills, and the config key it sets, read from the file.
std::vector<std::int64_t> row_counts(const std::string& database) {
    SQLite::Database db(database, SQLite::OPEN_READONLY);
    std::vector<std::int64_t> counts;
    for (const char* table : {"devices", "chats", "uploads", "files_to_send", "downloads", "files_to_receive"}) {
        counts.push_back(db.execAndGet(std::string("select count(*) from ") + table).getInt64());
    }
    counts.push_back(db.execAndGet("select count(*) from config where config_key = 'test'").getInt64());
    return counts;
}

// What a user would see of the device, and what lies on its disk, besides the files the
// core keeps for itself.
struct device_state {
    std::string alias;
    std::vector<std::int64_t> rows;
    std::set<std::string> files;
    std::string own_address;

    bool operator==(const device_state&) const = default;
};

device_state read_state(testing::self_test_core& device) {
    device_state state;
    state.alias = get_alias();
    state.rows = row_counts(get_data_folder_path() + "app.db");
    for (const std::string& file : files_under(device.home())) {
        if (file.find("vandrel") != std::string::npos) state.files.insert(file);
    }
    state.own_address = get_peer_ip(get_userid());
    return state;
}

TEST(SelfTestRunner, ACheckThatFailsAndAnErrorHalfWayStillEndTheRunAndRestoreEverything) {
    testing::self_test_core device({"create_device succeeds", "new download detected for 1000"});
    set_alias("My Laptop");
    const device_state before = read_state(device);

    ASSERT_EQ(handle_api_request("/run_tests", "{}", "from_ui"), "");
    ASSERT_TRUE(device.wait_for_check("tests finished", run_limit));

    const std::vector<Json> checks = device.checks();
    std::vector<std::string> failed;
    for (const Json& check : checks) {
        if (!check["passed"].bool_value() && testing::must_pass_here(check))
            failed.push_back(check["category"].string_value() + ": " + check["label"].string_value());
    }
    EXPECT_EQ(failed, (std::vector<std::string>{"api: create_device succeeds", "files: check raised an error"}));
    EXPECT_EQ(checks.back()["label"].string_value(), "tests finished");
    for (const Json& check : checks) {
        EXPECT_NE(check["label"].string_value(), "new download detected for 1000000") << "the group ended at the error";
    }
    // The transfers it had set going are stopped and gone with their files.
    EXPECT_EQ(read_state(device), before);
    EXPECT_EQ(before.alias, "My Laptop");
}

TEST(SelfTestRunner, ACoreStoppedDuringARunRestoresFirst) {
    testing::self_test_core device;
    const device_state before = read_state(device);
    ASSERT_EQ(handle_api_request("/run_tests", "{}", "from_ui"), "");
    ASSERT_TRUE(device.wait_for_check("create upload works:1000000", run_limit));
    device.running->stop();
    for (const Json& check : device.checks()) {
        EXPECT_NE(check["label"].string_value(), "tests finished") << "a run stopped half-way does not claim its end";
    }

    device.restart();
    EXPECT_EQ(read_state(device), before);
}

}  // namespace
}  // namespace vandrel
