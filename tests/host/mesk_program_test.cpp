// Runs the built mesk program as a user would: through its standard input and output.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "core_lib/foundation/json.h"
#include "tests/support/child_process.h"

namespace fs = std::filesystem;
using vandrel::Json;
using vandrel::testing::ChildProcess;
using namespace std::chrono_literals;

namespace {

class MeskProgram : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mesk-host-XXXXXX";
        root_ = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(root_); }

    std::unique_ptr<ChildProcess> start() {
        auto env = vandrel::testing::environment_with({
            "HOME=" + root_ + "/home",
            "XDG_DATA_HOME=" + root_ + "/data",
            "XDG_CACHE_HOME=" + root_ + "/cache",
            "XDG_CONFIG_HOME=" + root_ + "/config",
            "DISPLAY=",
            "WAYLAND_DISPLAY=",
        });
        auto child = std::make_unique<ChildProcess>(std::vector<std::string>{MESK_BINARY}, env);
        EXPECT_TRUE(child->wait_for_line("event core_started", 60s)) << "no core_started";
        return child;
    }

    // Sends a request and returns its parsed reply.
    Json request(ChildProcess& child, const std::string& endpoint, const std::string& body) {
        child.write_line(endpoint + " " + body);
        auto line = child.wait_for_line("reply " + endpoint + " ", 30s);
        EXPECT_TRUE(line) << "no reply to " << endpoint;
        if (!line) return Json();
        std::string err;
        Json reply = Json::parse(line->substr(std::string("reply " + endpoint + " ").size()), err);
        EXPECT_TRUE(err.empty()) << *line;
        return reply;
    }

    std::string data_folder() const { return root_ + "/data/mesk/Data/"; }

    static std::string read_file(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string root_;
};

TEST_F(MeskProgram, AnswersRequestsAndQuits) {
    auto mesk = start();
    Json me = request(*mesk, "/who_am_i", "{}");
    EXPECT_EQ(me["status"].string_value(), "success");
    EXPECT_EQ(me["device_id"].string_value().size(), 64u);
    EXPECT_FALSE(me["alias"].string_value().empty());
    EXPECT_EQ(me["sys_info"].string_value().rfind("linux/", 0), 0u) << me.dump();

    Json unknown = request(*mesk, "/no_such_endpoint", "{}");
    EXPECT_EQ(unknown.dump(),
              "{\"endpoint\": \"/no_such_endpoint\", \"error_code\": \"unknown_endpoint\", \"status\": \"error\"}");

    Json hello = request(*mesk, "/hello_world", "not json at all");
    EXPECT_EQ(hello["status"].string_value(), "success");

    mesk->write_line(":quit");
    auto status = mesk->wait_exit(20s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0);
}

TEST_F(MeskProgram, KeepsItsIdentityAndCertificateAcrossStarts) {
    std::string first_id;
    {
        auto mesk = start();
        first_id = request(*mesk, "/who_am_i", "{}")["device_id"].string_value();
        mesk->send_signal(SIGTERM);
        auto status = mesk->wait_exit(20s);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFEXITED(*status));
    }
    const char* names[] = {"vandrel.pem", "key.pem", "cert.pem"};
    std::map<std::string, std::string> before;
    for (const char* name : names) {
        before[name] = read_file(data_folder() + name);
        EXPECT_FALSE(before[name].empty()) << name;
    }
    {
        auto mesk = start();
        EXPECT_EQ(request(*mesk, "/who_am_i", "{}")["device_id"].string_value(), first_id);
        mesk->send_signal(SIGINT);
        ASSERT_TRUE(mesk->wait_exit(20s));
    }
    for (const char* name : names) EXPECT_EQ(read_file(data_folder() + name), before[name]) << name;
}

TEST_F(MeskProgram, RunsOnAfterInputEnds) {
    auto mesk = start();
    mesk->write_line("/who_am_i {}");
    ASSERT_TRUE(mesk->wait_for_line("reply /who_am_i ", 30s));
    mesk->close_input();
    EXPECT_FALSE(mesk->wait_exit(1s)) << "ended with its input";
    mesk->send_signal(SIGTERM);
    EXPECT_TRUE(mesk->wait_exit(20s));
}

}  // namespace
