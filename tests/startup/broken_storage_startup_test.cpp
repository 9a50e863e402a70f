// Start-up on storage that cannot be used as it is: what is wrong reaches the interface
// as "storage_problem" before "core_started", the core starts and serves all the same,
// and a locked database keeps what it holds.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core_lib/startup/core.h"
#include "core_lib/store/settings.h"
#include "tests/support/child_process.h"
#include "tests/support/net_test_support.h"
#include "tests/support/recording_platform.h"
#include "tests/support/test_core.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class BrokenStorageStartUp : public ::testing::Test {
protected:
    std::unique_ptr<core> make_core() {
        auto platform = std::make_shared<testing::recording_platform>();
        platform->set_data_folder(folder.path());
        platform->set_local_folder(folder.path());
        return std::make_unique<core>(testing::loopback_core_config(platform, ui.sink()));
    }

    // A first start and stop, which make the database and the certificate; the device id.
    std::string first_run() {
        auto first = make_core();
        first->start();
        std::string id = get_userid();
        first.reset();
        ui.clear();
        return id;
    }

    // The storage problems told before "core_started", which must come last.
    std::vector<Json> problems_at_start() {
        const std::vector<std::string> texts = ui.texts();
        EXPECT_EQ(texts.empty() ? "" : texts.back(), "core_started");
        std::vector<Json> found;
        for (const Json& event : ui.events())
            if (event["action"].string_value() == "storage_problem") found.push_back(event);
        return found;
    }

    std::string file(const std::string& name) const { return folder.path() + name; }

    test::temp_folder folder;
    testing::recording_ui_sink ui;
};

TEST_F(BrokenStorageStartUp, GarbageFilesAreReportedAndTheCoreServesOnNewOnes) {
    const std::string id = first_run();
    write_file(file("app.db"), std::string(8192, 'x'));
    std::filesystem::remove(file("app.db-wal"));
    std::filesystem::remove(file("app.db-shm"));
    write_file(file("vandrel.pem"), "-----BEGIN CERTIFICATE-----\ngarbage\n");

    auto running = make_core();
    running->start();
    const std::vector<Json> problems = problems_at_start();
    ASSERT_EQ(problems.size(), 2u);
    EXPECT_EQ(problems[0]["path"].string_value(), file("app.db"));
    EXPECT_NE(problems[0]["message"].string_value().find("kept as " + file("app.db.damaged-")), std::string::npos)
        << problems[0].dump();
    EXPECT_EQ(problems[1]["path"].string_value(), file("vandrel.pem"));
    EXPECT_NE(get_userid(), id) << "the damaged database held no id to keep";
    const auto reply = test::http_exchange(running->rest_port(), true, "POST", "/api/v1/hello_world", "{}");
    EXPECT_EQ(reply.body, R"({"status": "success"})") << "the new certificate does not serve";
}

TEST_F(BrokenStorageStartUp, ALockedDatabaseIsReportedAndKeepsTheDevice) {
    const std::string id = first_run();
    testing::ChildProcess locker({MESK_DB_LOCKER_BINARY, file("app.db")}, testing::environment_with({}));
    ASSERT_TRUE(locker.wait_for_line("locked", 10s));

    auto running = make_core();
    running->start();
    const std::vector<Json> problems = problems_at_start();
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(problems[0]["message"].string_value().find("another program holds it locked"), std::string::npos)
        << problems[0].dump();
    EXPECT_EQ(test::http_exchange(running->rest_port(), true, "POST", "/api/v1/hello_world", "{}").body,
              R"({"status": "success"})");

    locker.close_input();
    ASSERT_TRUE(locker.wait_exit(10s));
    EXPECT_EQ(get_userid(), id);
    for (const auto& entry : std::filesystem::directory_iterator(folder.path()))
        EXPECT_EQ(entry.path().filename().string().find(".damaged-"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace vandrel
