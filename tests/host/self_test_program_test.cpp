// The built-in self test run by the mesk program as a user runs it, bound to a loopback
// address of this test's own with fresh folders: every check passes in its order, twice
// in one process, and the device reads the same before and after; a second run while
// one is going, a peer's request and calls without the loop-back's secret are refused.
#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"
#include "tests/support/child_process.h"
#include "tests/support/net_test_support.h"
#include "tests/support/output_lines.h"
#include "tests/support/self_test_checks.h"

namespace fs = std::filesystem;
using vandrel::Json;
using vandrel::testing::ChildProcess;
using vandrel::testing::OutputLines;
using namespace std::chrono_literals;

namespace {

// Generous: a sanitizer build moves the 100 MB file many times slower.
constexpr auto run_limit = 600s;
const std::string forbidden = R"({"error_code": "forbidden", "status": "error"})";

// 127.X.Y.: a loopback network of this test's own.
std::string own_loopback_network() {
    std::mt19937 draw(std::random_device{}());
    std::uniform_int_distribution<int> octet(1, 254);
    return "127." + std::to_string(octet(draw)) + "." + std::to_string(octet(draw)) + ".";
}

// `pattern` with "*" for any text (at most one).
bool matches(const std::string& pattern, const std::string& text) {
    const auto star = pattern.find('*');
    if (star == std::string::npos) return pattern == text;
    const std::string head = pattern.substr(0, star);
    const std::string tail = pattern.substr(star + 1);
    return text.size() >= head.size() + tail.size() && text.compare(0, head.size(), head) == 0 &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The checks of one run in their order, "category|label"; `temp` is the device's
// temporary folder.
std::vector<std::string> checks_in_order(const std::string& temp) {
    std::vector<std::string> order = {
        "info|assert_equals works",
        "info|assert_true works",
        "info|assert_equals works",
        "info|assert_true works",
        "string utils|hash string is not empty",
        "string utils|hash empty string is not empty",
        "string utils|hash same strings produces same hashes",
        "string utils|hash is always 64 characters",
        "string utils|random string are always 64 characters",
        "string utils|random strings are different on subsequent calls",
        "platform|sys_info not empty",
        "platform|ssid not empty",
        "platform|bssid not empty",
        "platform|data folder is not empty",
        "platform|alerts implemented",
    };
    for (const char* type : {"jpg", "png", "jpeg", "mp4", "mkv", "avi", "flv", "m4v", "ogv"}) {
        order.push_back(std::string("platform|correct mime type for ") + type);
    }
    const std::vector<std::string> middle = {
        "platform|unknown mime type shows unknown/unknown",
        "platform|data folder ends with /",
        "platform|temp folder ends with /",
        "platform|downloads path is not empty txt",
        "platform|downloads path is not empty jpg",
        "platform|downloads path is not empty avi",
        "db|db set and get value works",
        "settings|getting and setting alias works",
        "settings|device id is not empty",
        "settings|device ids are the same between calls",
        "settings|device ids are always 64 characters",
        "datagram|invalid datagram detected",
        "datagram|device datagram is not empty",
        "datagram|valid datagram detected",
        "datagram|device id matches",
        "datagram|alias matches",
        "datagram|sysinfo matches",
        "api|unknown api endpoint fails",
        "api|hello world works",
        "api|ping pong works",
        "api|ping returns remote device id",
        "api|request init succeeds",
        "api|request init contains alias",
        "api|request init contains sys_info",
        "api|request init contains device_id",
        "api|add device with empty id fails",
        "api|add device with empty sys_info fails",
        "api|add device with empty alias fails",
        "api|create_device succeeds",
        "api|pull succeeds",
        "api|pull contains device id",
        "api|pull contains device ssid",
        "api|pull contains device sys_info",
        "api|pull contains device alias",
        "api|pull returns last pull value",
        "api|pull returns an array of devices",
        "api|pull returns a non empty array of devices",
        "api|pull returned fake device",
        "api|pull returned fake device with correct device id",
        "api|pull returned fake device with correct sys_info",
        "api|pull returned fake device with correct alias",
        "api|mock's last_pull_devices is greater than 0",
        "api|second pull succeeds",
        "api|second pull returns unchanged last_pull_devices value",
        "api|second pull returns an array of devices",
        "api|second pull returns an empty array of devices",
        "api_chats|create chat with text works",
        "api_chats|get chats with bogus peer succeeds ",
        "api_chats|get chats for fake_device  returns empty chat array",
        "api_chats|get chats for fake_device succeeds",
        "api_chats|get chats for fake_device  returns a non empty chat array",
        "api_chats|get chat returned fake chat id",
        "api_chats|get chat returned fake chat text type",
        "api_chats|get chat returned fake chat text",
        "api_chats|get chat returned fake chat sent status",
        "api_chats|mark chat as read",
        "api_uploads|create upload works",
        "api_uploads|get uploads with bogus peer succeeds ",
        "api_uploads|get chats for fake_device  returns empty uploads array",
        "api_uploads|get uploads for fake_device succeeds",
        "api_uploads|get uploads for fake_device  returns a non empty uploads array",
        "api_uploads|get uploads returned fake upload id",
        "api_uploads|get upload returned right number of files",
        "api_downloads|create download works",
        "api_downloads|get downloads with bogus peer succeeds ",
        "api_downloads|get downloads for fake_device  returns empty download array",
        "api_downloads|get downloads for fake_device succeeds",
        "api_downloads|get downloads for fake_device  returns a non empty downloads array",
        "api_downloads|get downloads returned fake download id",
        "api_downloads|get download returned correct number of files",
        "api new_settings|new_settings succeeds ",
        "api new_settings|new_settings changed alias",
        "sessions|session registration  works ",
        "sessions|duplicate session registration works ",
        "sessions|registered session is active ",
        "session|session request doesn't return empty string",
        "session|session request on local host takes less than 100 milliseconds",
        "session|session request2 doesn't return empty string",
        "session|session request2 on local host takes less than 100 milliseconds",
    };
    order.insert(order.end(), middle.begin(), middle.end());
    const std::vector<std::string> sizes = {"0", "1000", "1000000", "100000000"};
    for (const std::string& s : sizes) order.push_back("files| file doesn't exist " + s);
    for (const std::string& s : sizes) {
        const std::string name = "vandrel" + s + ".fakedata";
        order.push_back("file_transfers|file successfully created " + temp + name);
        order.push_back("api_uploads|create upload works:" + s);
        order.push_back("api_downloads|new download detected for " + s);
        order.push_back("api_downloads|found download for " + s);
        order.push_back("api_downloads|number of files is 1 for " + s);
        order.push_back("api_downloads|file names match for " + s);
        order.push_back("api_downloads|new download file id not empty for " + s);
        order.push_back("api_download_file|api get file  works:" + s);
    }
    for (const std::string& s : sizes) {
        // The download target: a storage path in the downloads folder.
        order.push_back("files| file exists *||vandrel" + s + ".fakedata");
        order.push_back("files|file size matches for downloads *||vandrel" + s + ".fakedata");
    }
    order.push_back("info|tests finished");
    return order;
}

class SelfTestProgram : public ::testing::Test {
protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        char pattern[] = "/tmp/mesk-selftest-XXXXXX";
        root_ = mkdtemp(pattern);
        auto env = vandrel::testing::environment_with({
            "HOME=" + root_ + "/home",
            "XDG_DATA_HOME=" + root_ + "/data",
            "XDG_CACHE_HOME=" + root_ + "/cache",
            "XDG_CONFIG_HOME=" + root_ + "/config",
            "DISPLAY=",
            "WAYLAND_DISPLAY=",
        });
        mesk_ = std::make_unique<ChildProcess>(std::vector<std::string>{MESK_BINARY, "--bind", address_}, env);
        out_ = std::make_unique<OutputLines>(*mesk_);
        ASSERT_TRUE(out_->take([](const std::string& l) { return l == "event core_started"; }, 60s));
        own_id_ = request("/who_am_i", "{}")["device_id"].string_value();
        ASSERT_EQ(own_id_.size(), 64u);
    }
    void TearDown() override {
        if (mesk_) {
            mesk_->write_line(":quit");
            EXPECT_TRUE(mesk_->wait_exit(60s));
        }
        out_.reset();
        mesk_.reset();
        fs::remove_all(root_);
    }

    Json request(const std::string& endpoint, const std::string& body) {
        mesk_->write_line(endpoint + " " + body);
        return out_->reply(endpoint);
    }

    // The user's own things before the run: a peer with a chat, a pending file, a
    // shared file, a name and a switch of their own.
    void seed_user_data() {
        request("/new_settings", R"({"alias": "My Laptop"})");
        request("/toggle_run_on_startup", "{}");
        request("/create_device", R"({"id": "peer-one", "alias": "Peer One", "sys_info": "linux/box"})");
        request("/create_chat", Json(Json::object{{"id", "chat-1"},
                                                  {"sender", "peer-one"},
                                                  {"receiver", own_id_},
                                                  {"type", "text"},
                                                  {"data", "hello, is the new laptop set up?"}})
                                    .dump());
        request("/pending_files_updated", R"({"files": ["/tmp/holiday.jpg"]})");
        request("/add_shared_files", R"({"files": [{"filename": "notes.txt", "fileurl": "/tmp/notes.txt"}]})");
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (request("/get_chats_for_peer", R"({"peer": "peer-one", "start": "0"})")["chats"].array_items().empty()) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the chat was not kept";
            std::this_thread::sleep_for(20ms);
        }
    }

    // Everything the user sees of the device, and the files under its home.
    std::map<std::string, std::string> device_view() {
        std::map<std::string, std::string> view;
        view["device info"] = request("/get_device_info", "{}").dump();
        view["devices"] = request("/get_recently_changed_devices", R"({"last_pull_devices": "0"})").dump();
        for (const std::string& peer : {std::string("peer-one"), own_id_, std::string("fake_device")}) {
            view["chats with " + peer] =
                request("/get_chats_for_peer", Json(Json::object{{"peer", peer}, {"start", "0"}}).dump()).dump();
            view["downloads from " + peer] =
                request("/get_new_downloads", Json(Json::object{{"peer", peer}, {"start", "0"}}).dump()).dump();
        }
        view["shared files"] = request("/shared_files", "{}").dump();
        view["pending files"] = request("/get_pending_files", "{}").dump();
        view["accepted folders"] = request("/accepted_folders", "{}").dump();
        std::string files;
        for (const auto& entry : fs::recursive_directory_iterator(root_ + "/home")) {
            if (entry.is_regular_file()) files += fs::relative(entry.path(), root_).string() + "\n";
        }
        for (const auto& entry : fs::recursive_directory_iterator(root_ + "/cache")) {
            if (entry.is_regular_file()) files += fs::relative(entry.path(), root_).string() + "\n";
        }
        view["files"] = files;
        return view;
    }

    // Refusals while the loop-back is open: a second run, a peer's request, and calls
    // from this device's own address without the secret.
    void check_refusals_during_run() {
        mesk_->write_line("/run_tests {}");
        EXPECT_EQ(out_->reply_text("/run_tests").value_or("none"),
                  R"({"error_code": "tests_running", "status": "error"})");

        vandrel::test::test_connection peer(45001, true, address_, 20s, network_ + "3");
        EXPECT_EQ(peer.request("POST", "/api/v1/run_tests", "{}").body, forbidden);

        ASSERT_TRUE(take_check("registered session is active ", 120s));
        const Json offer(Json::object{{"id", "made-up"},
                                      {"type", "download"},
                                      {"sender", own_id_},
                                      {"receiver", own_id_},
                                      {"data", Json::object{{"files", Json::array{}}}}});
        vandrel::test::test_connection local(45001, true, address_, 20s, address_);
        EXPECT_EQ(local.request("POST", "/api/v1/create_chat", offer.dump()).body,
                  R"({"error_code": "forbidden", "id": "made-up", "status": "error"})");
        EXPECT_EQ(local.request("POST", "/api/v1/completed_downloads", R"({"files": []})").body, forbidden);
        EXPECT_EQ(local.request("POST", "/api/v1/run_tests", "{}").body, forbidden);
    }

    // Takes the checks posted so far up to and including the one with that label.
    bool take_check(const std::string& label, std::chrono::milliseconds limit) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            auto line =
                out_->take([](const std::string& l) { return l.rfind("event {\"action\": \"append_test\"", 0) == 0; },
                           std::max(left, 0ms));
            if (!line) return false;
            const Json check = OutputLines::parse(line->substr(6))["test"];
            checks_.push_back(check);
            if (check["label"].string_value() == label) return true;
        }
    }

    // One whole run: its checks, in order, and how long it took.
    std::vector<Json> run_tests(std::chrono::milliseconds& took) {
        checks_.clear();
        const auto started = std::chrono::steady_clock::now();
        mesk_->write_line("/run_tests {}");
        EXPECT_EQ(out_->reply_text("/run_tests").value_or("none"), "") << "a run starts with an empty reply";
        check_refusals_during_run();
        EXPECT_TRUE(take_check("tests finished", run_limit));
        took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
        return checks_;
    }

    void expect_every_check_in_order_and_passed(const std::vector<Json>& checks) {
        const std::vector<std::string> order = checks_in_order(root_ + "/cache/mesk/tmp/");
        ASSERT_EQ(checks.size(), order.size());
        for (std::size_t i = 0; i < checks.size(); ++i) {
            const std::string seen = checks[i]["category"].string_value() + "|" + checks[i]["label"].string_value();
            EXPECT_TRUE(matches(order[i], seen)) << i << ": " << seen << " where " << order[i] << " belongs";
            EXPECT_TRUE(checks[i]["passed"].bool_value() || !vandrel::testing::must_pass_here(checks[i]))
                << seen << ": expected " << checks[i]["expected"].dump() << ", actual " << checks[i]["actual"].dump();
        }
    }

    std::string root_;
    const std::string network_ = own_loopback_network();
    const std::string address_ = network_ + "2";
    std::unique_ptr<ChildProcess> mesk_;
    std::unique_ptr<OutputLines> out_;
    std::string own_id_;
    std::vector<Json> checks_;
};

TEST_F(SelfTestProgram, EveryCheckPassesInItsOrderTwiceAndTheDeviceReadsTheSameAfterwards) {
    seed_user_data();
    const auto before = device_view();
    for (int run = 1; run <= 2; ++run) {
        std::chrono::milliseconds took{0};
        const std::vector<Json> checks = run_tests(took);
        expect_every_check_in_order_and_passed(checks);
        std::cerr << "self test run " << run << " took " << took.count() << " ms\n";
        // The device reaches itself where it listens.
        for (const Json& check : checks) {
            if (check["label"].string_value() == "registered session is active ") {
                EXPECT_EQ(check["expected"].string_value(), address_);
            }
        }
        const auto after = device_view();
        for (const auto& [what, text] : before) EXPECT_EQ(after.at(what), text) << what << " after run " << run;
    }
}

}  // namespace
