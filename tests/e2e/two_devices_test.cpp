// Two devices on a private test network: real mesk processes in network namespaces.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <thread>

#include "core_lib/foundation/json.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"

using vandrel::Json;
using vandrel::testing::ChildProcess;
using vandrel::testing::TestNetwork;
using namespace std::chrono_literals;

namespace {

class TwoDevices : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string why = TestNetwork::unavailable_reason();
        if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
        net_ = std::make_unique<TestNetwork>(2);
    }

    static Json request(ChildProcess& mesk, const std::string& endpoint, const std::string& body) {
        mesk.write_line(endpoint + " " + body);
        const std::string prefix = "reply " + endpoint + " ";
        auto line = mesk.wait_for_line(prefix, 30s);
        EXPECT_TRUE(line) << "no reply to " << endpoint;
        if (!line) return Json();
        std::string err;
        return Json::parse(line->substr(prefix.size()), err);
    }

    // curl inside the device's namespace; the answer body, and the status code through `code`.
    std::string curl(const vandrel::testing::TestDevice& on, const std::vector<std::string>& args,
                     std::string* code = nullptr) {
        return vandrel::testing::curl_on(*net_, on, args, code);
    }

    static Json parse(const std::string& text) {
        std::string err;
        return Json::parse(text, err);
    }

    std::unique_ptr<TestNetwork> net_;
};

TEST_F(TwoDevices, APingProvesBothSidesByTheirKeys) {
    const auto& a = net_->device(0);
    const auto& b = net_->device(1);
    auto mesk_b = net_->start_mesk(b);
    const std::string b_id = request(*mesk_b, "/who_am_i", "{}")["device_id"].string_value();
    ASSERT_EQ(b_id.size(), 64u);

    // A pings B: A proves B by B's answer, and B proves A by a ping back.
    auto probe = net_->start(a, {MESK_PROBE_BINARY, "ping", b.address});
    auto proven = probe->wait_for_line("proven ", 60s);
    ASSERT_TRUE(proven);
    EXPECT_EQ(proven->substr(7), b_id) << "A did not prove B";
    auto me = probe->wait_for_line("me ", 10s);
    ASSERT_TRUE(me);
    const std::string a_id = me->substr(3);
    ASSERT_EQ(a_id.size(), 64u);

    Json found;
    for (int i = 0; i < 100 && found.is_null(); ++i) {
        Json devices = request(*mesk_b, "/get_recently_changed_devices", "{\"last_pull_devices\": \"0\"}");
        for (const Json& d : devices["devices"].array_items()) {
            if (d["id"].string_value() == a_id) found = d;
        }
        if (found.is_null()) std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(found.is_null()) << "B did not store A";
    EXPECT_EQ(found["ip"].string_value(), a.address);
    probe->close_input();
    EXPECT_TRUE(probe->wait_exit(20s));
    mesk_b->write_line(":quit");
    EXPECT_TRUE(mesk_b->wait_exit(20s));
}

TEST_F(TwoDevices, RestServerAnswersPeersAndKeepsLoopbackToThumbnails) {
    const auto& a = net_->device(0);
    const auto& b = net_->device(1);
    auto mesk_b = net_->start_mesk(b);
    Json me = request(*mesk_b, "/who_am_i", "{}");
    const std::string api = "https://" + b.address + ":45001/api/v1";

    std::string code;
    Json ping = parse(curl(a, {"-X", "POST", api + "/ping", "-d", "{\"device_id\":\"x\"}"}, &code));
    EXPECT_EQ(code, "200");
    EXPECT_EQ(ping["status"].string_value(), "success");
    EXPECT_EQ(ping["remote_id"].string_value(), me["device_id"].string_value());

    Json get = parse(curl(a, {api + "/ping"}, &code));
    EXPECT_EQ(get["remote_id"].string_value(), me["device_id"].string_value());
    Json query = parse(curl(a, {api + "/ping?device_id=y"}, &code));
    EXPECT_EQ(query["remote_id"].string_value(), me["device_id"].string_value()) << "query reached the endpoint";

    Json settings = parse(curl(
        a, {"-X", "POST", api + "/new_settings", "-d", "{\"alias\":\"Hijacked\",\"webshare_password\":\"0000\"}"}));
    EXPECT_EQ(settings["error_code"].string_value(), "forbidden");
    EXPECT_EQ(request(*mesk_b, "/who_am_i", "{}")["alias"].string_value(), me["alias"].string_value());

    // The loopback server answers nothing but thumbnails, and only on 127.0.0.1.
    curl(b, {"http://127.0.0.1:45002/api/v1/ping"}, &code);
    EXPECT_EQ(code, "404");
    curl(b, {"-X", "POST", "http://127.0.0.1:45002/thumbnail/v1/upload/abc"}, &code);
    EXPECT_EQ(code, "404");
    curl(a, {"--connect-timeout", "3", "http://" + b.address + ":45002/thumbnail/v1/upload/abc"}, &code);
    EXPECT_EQ(code, "000") << "loopback server reachable from a peer";
}

}  // namespace
