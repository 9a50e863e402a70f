// This device's calls to itself over its own peer path: served as its own only with the
// running core's secret, from its own address, while the self test has it in the
// directory. Nothing is opened to other programs on the machine meanwhile.
#include "core_lib/net/peers/self_calls.h"

#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <string>

#include "core_lib/foundation/json.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/uploads.h"
#include "tests/selftest/self_test_core.h"
#include "tests/support/net_test_support.h"

namespace vandrel {
namespace {

const std::string forbidden = R"({"error_code": "forbidden", "status": "error"})";

class SelfCall : public ::testing::Test {
protected:
    void SetUp() override {
        own_id = get_userid();
        port = device.running->rest_port();
        ASSERT_NE(port, 0);
        secret = current_net::get().self_call_secret;
        ASSERT_EQ(secret.size(), 64u);
        // A file this device offers to itself, as the self test's loop-back does.
        const std::string folder = get_local_folder_path();
        std::ofstream(folder + "offered.bin", std::ios::binary) << "the offered bytes";
        db_store_upload({Json::object{{"id", "file-1"},
                                      {"filename", "offered.bin"},
                                      {"fileurl", storage_path_for_file(folder, folder + "offered.bin")},
                                      {"filesize", "17"}}},
                        "", "upload-1", own_id, own_id);
    }

    // One request to this device's REST server from `source` (its own address unless
    // given), with the secret header when `with` is not empty.
    test::http_reply post(const std::string& target, const std::string& body, const std::string& with,
                          const std::string& source = "") {
        std::map<std::string, std::string> headers;
        if (!with.empty()) headers[self_call_header] = with;
        test::test_connection connection(port, true, device.address, std::chrono::seconds(10),
                                         source.empty() ? device.address : source);
        return connection.request("POST", target, body, headers);
    }

    test::http_reply fetch(const std::string& with, const std::string& source = "") {
        return post("/download/v1", R"({"chat_id": "upload-1", "file_id": "file-1", "offset": "0"})", with, source);
    }

    std::string offer(const std::string& id) const {
        return Json(Json::object{{"id", id},
                                 {"type", "download"},
                                 {"sender", own_id},
                                 {"receiver", own_id},
                                 {"data", Json::object{{"files", Json::array{}}}}})
            .dump();
    }

    testing::self_test_core device;
    std::string own_id;
    std::uint16_t port = 0;
    std::string secret;
};

TEST_F(SelfCall, OnlyTheSecretFromItsOwnAddressWhileTheLoopBackIsOpenSpeaksForThisDevice) {
    const std::string other_address = testing::own_loopback_address_for_test();
    std::string wrong = secret;
    wrong[0] = wrong[0] == 'a' ? 'b' : 'a';

    // Closed: the secret alone opens nothing.
    EXPECT_EQ(fetch(secret).status, 404u);
    EXPECT_EQ(post("/api/v1/create_chat", offer("c-1"), secret).body,
              R"({"error_code": "forbidden", "id": "c-1", "status": "error"})");

    ASSERT_TRUE(peer_seen(own_id, device.address));
    EXPECT_EQ(get_peer_ip(own_id), device.address);
    const struct {
        const char* why;
        std::string with;
        std::string source;
    } refused[] = {
        {"no secret", "", ""},
        {"a wrong secret", wrong, ""},
        {"a cut secret", secret.substr(1), ""},
        {"the secret from another address", secret, other_address},
    };
    for (const auto& r : refused) {
        EXPECT_EQ(fetch(r.with, r.source).status, 404u) << r.why;
        EXPECT_EQ(post("/api/v1/create_chat", offer("c-2"), r.with, r.source).body,
                  R"({"error_code": "forbidden", "id": "c-2", "status": "error"})")
            << r.why;
        EXPECT_EQ(post("/api/v1/completed_downloads", R"({"files": [{"chat_id": "upload-1", "id": "file-1"}]})", r.with,
                       r.source)
                      .body,
                  forbidden)
            << r.why;
    }

    const test::http_reply file = fetch(secret);
    EXPECT_EQ(file.status, 200u);
    EXPECT_EQ(file.body, "the offered bytes");
    EXPECT_EQ(post("/api/v1/create_chat", offer("c-3"), secret).body, R"({"id": "c-3", "status": "success"})");
    // Its own calls may do what the self test does, except start another run.
    EXPECT_EQ(post("/api/v1/run_tests", "{}", secret).body, forbidden);

    // The self test ended: the secret opens nothing again.
    forget_peer_ip(own_id);
    EXPECT_EQ(fetch(secret).status, 404u);
}

}  // namespace
}  // namespace vandrel
