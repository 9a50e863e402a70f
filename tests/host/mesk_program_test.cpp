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
#include <set>
#include <sstream>
#include <thread>

#include "core_lib/foundation/json.h"
#include "tests/support/child_process.h"
#include "tests/support/net_test_support.h"
#include "tests/support/output_lines.h"
#include "tests/support/seeded_peer.h"

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

    std::unique_ptr<ChildProcess> start_bound(const std::string& address, const std::string& root) {
        auto env = vandrel::testing::environment_with({
            "HOME=" + root + "/home",
            "XDG_DATA_HOME=" + root + "/data",
            "XDG_CACHE_HOME=" + root + "/cache",
            "XDG_CONFIG_HOME=" + root + "/config",
            "DISPLAY=",
            "WAYLAND_DISPLAY=",
        });
        auto child = std::make_unique<ChildProcess>(std::vector<std::string>{MESK_BINARY, "--bind", address}, env);
        startup_lines.clear();
        EXPECT_TRUE(child->wait_for_line("event core_started", 60s, &startup_lines)) << "no core_started";
        return child;
    }

    // The message of the "service_not_started" event of the service among the lines
    // before "core_started"; nothing when there was none.
    std::optional<std::string> not_started(const std::string& service) const {
        for (const auto& line : startup_lines) {
            if (line.rfind("event ", 0) != 0) continue;
            const Json event = OutputLines::parse(line.substr(6));
            if (event["action"].string_value() == "service_not_started" && event["service"].string_value() == service)
                return event["message"].string_value();
        }
        return std::nullopt;
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
    const std::string peer_ = std::string(64, 'b');  // a peer seeded where a test needs one
    std::vector<std::string> startup_lines;          // of the last start, before "core_started"
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
    EXPECT_EQ(not_started("rest server").value_or("").rfind("could not bind to local host", 0), 0u) << "no report";
    EXPECT_TRUE(not_started("thumbnail server")) << "no report";
    // An interface can parse every event but the one plain "core_started".
    for (const auto& line : startup_lines) {
        if (line.rfind("event ", 0) != 0) continue;
        std::string error;
        vandrel::Json::parse(line.substr(6), error);
        EXPECT_TRUE(error.empty()) << line;
    }
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
    vandrel::testing::seed_peer(data_folder(), peer_, "Peer", "127.0.0.1");
    auto mesk = start();
    OutputLines out(*mesk);

    mesk->write_line(":pick-category {\"type\": \"folder\", \"to\": \"" + peer_ + "\"} " + folder);
    EXPECT_EQ(out.reply(":pick-category")["status"].string_value(), "success");
    Json loading = out.event("feedback_for_peer");
    EXPECT_EQ(loading["feedback"].string_value(), "loading folder trip") << loading.dump();
    EXPECT_EQ(loading["peer_id"].string_value(), peer_);

    // A later files pick is not answered by the folder: it shares the file.
    mesk->write_line(":pick-accepted-folder " + root_ + "/share");
    EXPECT_EQ(out.reply("/add_accepted_folder")["status"].string_value(), "success");
    // The folder is added after its reply.
    bool listed = false;
    for (int i = 0; i < 100 && !listed; ++i) {
        if (i > 0) std::this_thread::sleep_for(100ms);
        mesk->write_line("/accepted_folders {}");
        const Json folders = out.reply("/accepted_folders");
        for (const auto& f : folders["folders"].array_items())
            listed |= f["path"].string_value() == fs::canonical(root_ + "/share").string();
    }
    ASSERT_TRUE(listed);
    mesk->write_line(":pick-files " + file);
    EXPECT_EQ(out.reply(":pick-files")["status"].string_value(), "success");
    EXPECT_FALSE(out.event("shared_files_updated").is_null());
    mesk->write_line(":quit");
    EXPECT_TRUE(mesk->wait_exit(20s));
}

// Each line the host refuses is answered on standard output, under its endpoint or
// command, and goes no further.
TEST_F(MeskProgram, RefusedLinesAreAnsweredOnStandardOutputAndGoNoFurther) {
    fs::create_directories(root_ + "/share");
    std::ofstream(root_ + "/share/note.txt") << "n";
    const std::string unknown_peer(64, 'c');
    struct refused_line {
        std::string line;
        std::string reply_to;
        std::string code;
    };
    const std::vector<refused_line> cases = {
        {"/who_am_i {bad json", "/who_am_i", "invalid_json"},
        {R"(/create_chat {"id": "x", "message": "unterminated)", "/create_chat", "invalid_json"},
        {"/hello_world not json at all", "/hello_world", "invalid_json"},
        {":no-such-command x", ":no-such-command", "unknown_command"},
        {":pick-files", ":pick-files", "invalid_arguments"},
        {":pick-files '" + root_ + "/unterminated", ":pick-files", "invalid_arguments"},
        {":pick-files \"\"", ":pick-files", "empty_path"},
        {":pick-files " + root_ + "/share/missing.txt", ":pick-files", "no_such_path"},
        {":pick-files " + root_ + "/share/note.txt", ":pick-files", "folder_not_accepted"},
        {":pick-folder " + unknown_peer + " " + root_ + "/share", ":pick-folder", "unknown_peer"},
        {":pick-folder " + peer_ + " " + root_ + "/share/note.txt", ":pick-folder", "not_a_folder"},
        {":pick-category {\"type\": \"photos\", \"to\": \"" + unknown_peer + "\"} " + root_ + "/share/note.txt",
         ":pick-category", "unknown_peer"},
        {":pick-image " + root_ + "/share/missing.jpg", ":pick-image", "no_such_path"},
        {":pick-accepted-folder " + root_ + "/missing", ":pick-accepted-folder", "no_such_path"},
        {":pick-accepted-folder " + root_ + "/share/note.txt", ":pick-accepted-folder", "not_a_folder"},
    };
    vandrel::testing::seed_peer(data_folder(), peer_, "Peer", "127.0.0.1");
    auto mesk = start();
    OutputLines out(*mesk);
    for (const auto& c : cases) {
        mesk->write_line(c.line);
        const Json reply = out.reply(c.reply_to);
        EXPECT_EQ(reply["status"].string_value(), "error") << c.line;
        EXPECT_EQ(reply["error_code"].string_value(), c.code) << c.line << " -> " << reply.dump();
        EXPECT_FALSE(reply["message"].string_value().empty()) << c.line;
    }
    // Nothing reached the core: no second reply to a refused request, and no folder was
    // accepted.
    const auto core_reply = out.take(
        [](const std::string& l) {
            for (const char* prefix : {"reply /who_am_i ", "reply /create_chat ", "reply /hello_world "})
                if (l.rfind(prefix, 0) == 0) return true;
            return false;
        },
        2s);
    EXPECT_FALSE(core_reply) << *core_reply;
    for (const std::string endpoint : {"/who_am_i", "/hello_world"}) {
        mesk->write_line(endpoint + " {}");
        EXPECT_EQ(out.reply(endpoint)["status"].string_value(), "success") << endpoint;
    }
    mesk->write_line("/accepted_folders {}");
    const Json accepted = out.reply("/accepted_folders");
    for (const auto& folder : accepted["folders"].array_items()) {
        const std::string& path = folder["path"].string_value();
        EXPECT_TRUE(path.rfind(root_ + "/share", 0) != 0 && path.rfind(root_ + "/missing", 0) != 0) << path;
    }
    EXPECT_FALSE(
        out.take([](const std::string& l) { return l.find("shared_files_updated") != std::string::npos; }, 1s));
    mesk->write_line(":quit");
    EXPECT_TRUE(mesk->wait_exit(20s));
}

// top -H, perf and gdb tell the loops apart: every thread the program starts has a name
// of its own; only the main thread keeps the program's.
TEST_F(MeskProgram, EveryThreadItStartsIsNamed) {
    auto mesk = start();
    OutputLines out(*mesk);
    mesk->write_line("/who_am_i {}");
    ASSERT_EQ(out.reply("/who_am_i")["status"].string_value(), "success");
    std::multiset<std::string> names;
    const fs::path tasks = "/proc/" + std::to_string(mesk->pid()) + "/task";
    for (const auto& task : fs::directory_iterator(tasks)) {
        std::string name = read_file((task.path() / "comm").string());
        if (!name.empty() && name.back() == '\n') name.pop_back();
        EXPECT_LE(name.size(), 15u) << name;
        names.insert(name);
    }
    std::string listed;
    for (const auto& name : names) listed += name + " ";
    EXPECT_EQ(names.count("mesk"), 1u) << "threads without a name of their own: " << listed;
    for (const char* expected :
         {"mesk-input", "mesk-resend", "mesk-netwatch", "mesk-events", "mesk-announce", "mesk-refresh",
          "mesk-discovery", "mesk-mirror", "mesk-download", "mesk-rest-io-1", "mesk-rest-wk-1", "mesk-thumb-io-1",
          "mesk-thumb-wk-1", "mesk-web-io-1", "mesk-api-1", "mesk-chat-1", "mesk-jobs-1", "mesk-proof-1"})
        EXPECT_EQ(names.count(expected), 1u) << expected << " in " << listed;
    mesk->write_line(":quit");
    EXPECT_TRUE(mesk->wait_exit(20s));
}

TEST_F(MeskProgram, RefusesOptionsItDoesNotKnow) {
    ChildProcess child({MESK_BINARY, "--bind"}, vandrel::testing::environment_with({"HOME=" + root_}));
    auto status = child.wait_exit(20s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 2);
}

}  // namespace
