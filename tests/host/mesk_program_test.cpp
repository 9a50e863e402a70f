// Runs the built mesk program as a user would: through its standard input and output.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <random>
#include <sstream>
#include <thread>

#include "core_lib/foundation/json.h"
#include "tests/support/child_process.h"
#include "tests/support/net_test_support.h"
#include "tests/support/output_lines.h"

namespace fs = std::filesystem;
using vandrel::Json;
using vandrel::testing::ChildProcess;
using vandrel::testing::OutputLines;
using namespace std::chrono_literals;

namespace {

// A loopback address of this test's own (127.x.y.z), so that tests running side by
// side, and whatever else runs on this machine, never share a port.
std::string own_loopback_address() {
    std::mt19937 draw(std::random_device{}());
    std::uniform_int_distribution<int> octet(1, 254);
    return "127." + std::to_string(octet(draw)) + "." + std::to_string(octet(draw)) + "." + std::to_string(octet(draw));
}

class MeskProgram : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/mesk-host-XXXXXX";
        root_ = mkdtemp(pattern);
    }
    void TearDown() override { fs::remove_all(root_); }

    // mesk bound to this test's address, its servers checked once it has started.
    std::unique_ptr<ChildProcess> start() {
        auto child = start_bound(address_, root_);
        EXPECT_TRUE(answers_peers(address_)) << "the REST server is not serving on " << address_;
        return child;
    }

    // An HTTPS request to the REST server at the address answers.
    static bool answers_peers(const std::string& address) {
        vandrel::test::test_connection connection(45001, true, address);
        if (!connection.connected()) return false;
        auto reply = connection.request("POST", "/api/v1/hello_world", "{}");
        return reply.ok && reply.body == R"({"status": "success"})";
    }

    // The environment of a mesk whose folders are all under `root`.
    static std::vector<std::string> environment_under(const std::string& root) {
        return vandrel::testing::environment_with({
            "HOME=" + root + "/home",
            "XDG_DATA_HOME=" + root + "/data",
            "XDG_CACHE_HOME=" + root + "/cache",
            "XDG_CONFIG_HOME=" + root + "/config",
            "DISPLAY=",
            "WAYLAND_DISPLAY=",
        });
    }

    std::unique_ptr<ChildProcess> start_bound(const std::string& address, const std::string& root) {
        auto child = std::make_unique<ChildProcess>(std::vector<std::string>{MESK_BINARY, "--bind", address},
                                                    environment_under(root));
        startup_lines.clear();
        EXPECT_TRUE(child->wait_for_line("event core_started", 60s, &startup_lines)) << "no core_started";
        return child;
    }

    // Whether one of the lines before "core_started" began with the text.
    bool started_with_line(const std::string& prefix) const {
        for (const auto& line : startup_lines) {
            if (line.rfind(prefix, 0) == 0) return true;
        }
        return false;
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
    const std::string address_ = own_loopback_address();
    std::vector<std::string> startup_lines;  // of the last start, before "core_started"
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

TEST_F(MeskProgram, AServerThatCannotListenIsReportedAndTheRestGoesOn) {
    auto first = start();
    char pattern[] = "/tmp/mesk-host-XXXXXX";
    const std::string second_root = mkdtemp(pattern);
    // The same address: its ports are taken by the first.
    auto second = start_bound(address_, second_root);
    EXPECT_TRUE(started_with_line("event could not bind to local host")) << "no report";
    EXPECT_TRUE(started_with_line("event thumbnail server not started")) << "no report";
    EXPECT_EQ(request(*second, "/who_am_i", "{}")["status"].string_value(), "success");
    EXPECT_TRUE(answers_peers(address_)) << "the first one still serves";
    second->write_line(":quit");
    EXPECT_TRUE(second->wait_exit(20s));
    first->write_line(":quit");
    EXPECT_TRUE(first->wait_exit(20s));
    fs::remove_all(second_root);
}

TEST_F(MeskProgram, AcceptedFolderPicksTakeQuotedPathsWithBlanks) {
    const std::string first = root_ + "/my photos";
    const std::string second = root_ + "/old  scans";
    fs::create_directories(first);
    fs::create_directories(second);
    auto mesk = start();
    OutputLines out(*mesk);
    mesk->write_line(":pick-accepted-folder '" + first + "'");
    EXPECT_EQ(out.reply("/add_accepted_folder")["status"].string_value(), "success");
    mesk->write_line(":pick-accepted-folder " + root_ + "/old\\ \\ scans");
    EXPECT_EQ(out.reply("/add_accepted_folder")["status"].string_value(), "success");

    // Each folder is added after its reply; start-up sends "device_updated" of its own, so
    // the list is asked for until both are in it.
    const auto both_listed = [&](const std::vector<std::string>& listed) {
        for (const auto& folder : {first, second}) {
            if (std::find(listed.begin(), listed.end(), fs::canonical(folder).string()) == listed.end()) return false;
        }
        return true;
    };
    std::vector<std::string> listed;
    for (int i = 0; i < 300 && !both_listed(listed); ++i) {
        if (i > 0) std::this_thread::sleep_for(100ms);
        mesk->write_line("/accepted_folders {}");
        const Json folders = out.reply("/accepted_folders");
        listed.clear();
        for (const auto& folder : folders["folders"].array_items()) listed.push_back(folder["path"].string_value());
    }
    for (const auto& folder : {first, second})
        EXPECT_NE(std::find(listed.begin(), listed.end(), fs::canonical(folder).string()), listed.end()) << folder;
    mesk->write_line(":quit");
    EXPECT_TRUE(mesk->wait_exit(20s));
}

TEST_F(MeskProgram, ACategoryFolderPickAnswersTheFolderDialogAndNotALaterFilesPick) {
    const std::string folder = root_ + "/send/trip";
    const std::string file = root_ + "/share/note.txt";
    fs::create_directories(folder);
    fs::create_directories(root_ + "/share");
    std::ofstream(folder + "/a.txt") << "a";
    std::ofstream(file) << "b";
    auto mesk = start();
    OutputLines out(*mesk);

    mesk->write_line(":pick-category {\"type\": \"folder\", \"to\": \"peer-x\"} " + folder);
    Json loading = out.event("feedback_for_peer");
    EXPECT_EQ(loading["feedback"].string_value(), "loading folder trip") << loading.dump();
    EXPECT_EQ(loading["peer_id"].string_value(), "peer-x");

    // The share folder is not an accepted one: the pick names the folder it took.
    mesk->write_line(":pick-files " + file);
    EXPECT_EQ(out.event("folder_access_error")["folder"].string_value(), root_ + "/share/");
    mesk->write_line(":quit");
    EXPECT_TRUE(mesk->wait_exit(20s));
}

TEST_F(MeskProgram, ASecondMeskOnTheSameDataFolderSaysSoAndEndsBeforeItStarts) {
    auto first = start();
    const std::string id = request(*first, "/who_am_i", "{}")["device_id"].string_value();
    ASSERT_EQ(id.size(), 64u);

    // Another address, so that only the folder is shared; both output streams read.
    ChildProcess second({"/bin/sh", "-c", "exec \"$0\" --bind \"$1\" 2>&1", MESK_BINARY, own_loopback_address()},
                        environment_under(root_));
    std::vector<std::string> lines;
    while (auto line = second.read_line(30s)) lines.push_back(*line);
    const auto status = second.wait_exit(20s);
    ASSERT_TRUE(status) << "the second one runs on";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) != 0);
    const std::string said = "another mesk is already using " + data_folder();
    EXPECT_NE(std::find(lines.begin(), lines.end(), said), lines.end()) << "not said: " << said;
    for (const auto& line : lines) EXPECT_NE(line.rfind("event ", 0), 0u) << "it started: " << line;

    EXPECT_EQ(request(*first, "/who_am_i", "{}")["device_id"].string_value(), id) << "the first one was disturbed";
    // A process that dies holds nothing: the next one starts on the folder.
    first->send_signal(SIGKILL);
    ASSERT_TRUE(first->wait_exit(20s));
    auto third = start();
    EXPECT_EQ(request(*third, "/who_am_i", "{}")["device_id"].string_value(), id);
    third->write_line(":quit");
    EXPECT_TRUE(third->wait_exit(20s));
}

TEST_F(MeskProgram, RefusesOptionsItDoesNotKnow) {
    ChildProcess child({MESK_BINARY, "--bind"}, vandrel::testing::environment_with({"HOME=" + root_}));
    auto status = child.wait_exit(20s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2);
}

}  // namespace
