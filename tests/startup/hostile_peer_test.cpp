// A whole core on 127.0.0.1 attacked over real HTTPS: a known peer B serves on
// 127.0.0.2 with its own key, an attacker speaks from 127.0.0.3 (and, where it must,
// answers there with a key of its own). Each attack is followed by reading the state
// back through the interface's own requests.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/http/http_server.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/http/tls_context.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/net/peers/public_key.h"
#include "core_lib/startup/core.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/settings.h"
#include "tests/support/net_test_support.h"
#include "tests/support/recording_platform.h"
#include "tests/support/test_core.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using test::http_reply;
using test::test_connection;

const std::string b_address = "127.0.0.2";
const std::string attacker = "127.0.0.3";
const std::string b_id = "peerB";

Json parse(const std::string& text) {
    std::string err;
    return Json::parse(text, err);
}

// A peer's server on one loopback address: answers "/ping" as `id` and "/get_avatar"
// with what the test sets; everything else with success.
class stub_peer {
public:
    stub_peer(const std::string& address, std::uint16_t port, const std::string& certificate, std::string id)
        : manager("stub " + address), id_(std::move(id)) {
        http_server_config config;
        config.host = address;
        config.port = port;
        config.tls = make_server_tls_context(certificate);
        config.handler = [this](const http_request& request) {
            http_answer answer;
            std::lock_guard<std::mutex> lock(mutex_);
            if (request.path == "/api/v1/ping") {
                answer.body =
                    Json(
                        Json::object{{"alias", "Bee"}, {"remote_id", id_}, {"status", "success"}, {"sys_info", "stub"}})
                        .dump();
            } else if (request.path == "/api/v1/get_avatar") {
                answer.body = avatar_;
            } else {
                answer.body = R"({"status": "success"})";
            }
            return answer;
        };
        std::string error;
        port_ = start_http_server(manager, std::move(config), error);
        EXPECT_NE(port_, 0) << error;
    }
    void set_avatar_answer(std::string text) {
        std::lock_guard<std::mutex> lock(mutex_);
        avatar_ = std::move(text);
    }
    std::uint16_t port() const { return port_; }

private:
    io_manager manager;
    std::mutex mutex_;
    std::string id_;
    std::string avatar_ = R"({"status": "error"})";
    std::uint16_t port_ = 0;
};

std::uint16_t free_port_candidate() {
    std::mt19937 draw(std::random_device{}());
    return static_cast<std::uint16_t>(std::uniform_int_distribution<int>(20000, 60000)(draw));
}

class HostilePeer : public ::testing::Test {
protected:
    void SetUp() override {
        test::write_self_signed_pem(folder.path() + "b.pem", 2048, "b", 2, 0, 86400, false);
        test::write_self_signed_pem(folder.path() + "evil.pem", 2048, "evil", 3, 0, 86400, false);
        // Peers are called on a port of this test's own, where the stubs listen.
        for (int tries = 0; tries < 20 && !b; ++tries) {
            peer_port = free_port_candidate();
            auto made = std::make_unique<stub_peer>(b_address, peer_port, folder.path() + "b.pem", b_id);
            if (made->port() != 0) b = std::move(made);
        }
        ASSERT_TRUE(b);
        platform = std::make_shared<testing::recording_platform>();
        platform->set_data_folder(folder.path());
        platform->set_local_folder(folder.path());
        core_config config = testing::loopback_core_config(platform, ui.sink());
        config.network.peer_port = peer_port;
        victim = std::make_unique<core>(std::move(config));
        victim->start();
        port = victim->rest_port();
        ASSERT_NE(port, 0);
        own_id = get_userid();
        // The victim met B before: B is proven at its address by its key.
        ASSERT_EQ(prove_peer_at(b_address, 10s), b_id);
        b_key = certificate_key_sha256(folder.path() + "b.pem");
        ASSERT_EQ(db_get_device_key(b_id), b_key);
        ASSERT_TRUE(wait_for_background_jobs(10s));
    }
    void TearDown() override {
        if (victim) victim->stop();
    }

    // A request to the victim's REST server from one of the loopback addresses.
    http_reply post_from(const std::string& source, const std::string& endpoint, const std::string& body) {
        test_connection connection(port, true, "127.0.0.1", 20s, source);
        if (!connection.connected()) return {};
        return connection.request("POST", "/api/v1" + endpoint, body);
    }
    Json api_from(const std::string& source, const std::string& endpoint, const Json& body) {
        http_reply reply = post_from(source, endpoint, body.dump());
        EXPECT_TRUE(reply.ok) << endpoint;
        return parse(reply.body);
    }
    // What the interface sees.
    Json ui_call(const std::string& endpoint, const Json& body = Json::object{}) {
        return parse(handle_api_request(endpoint, body.dump(), "from_ui"));
    }
    std::map<std::string, Json> devices() {
        std::map<std::string, Json> by_id;
        const Json reply = ui_call("/get_recently_changed_devices", Json::object{{"last_pull_devices", "0"}});
        for (const Json& d : reply["devices"].array_items()) by_id[d["id"].string_value()] = d;
        return by_id;
    }
    std::vector<Json> chats_with(const std::string& peer) {
        return ui_call("/get_chats_for_peer", Json::object{{"peer", peer}, {"start", "0"}, {"account", ""}})["chats"]
            .array_items();
    }
    std::vector<Json> events_of(const std::string& action) {
        std::vector<Json> found;
        for (const Json& event : ui.events()) {
            if (event["action"].string_value() == action) found.push_back(event);
        }
        return found;
    }
    Json chat(const std::string& id, const std::string& sender, const Json& data, const std::string& type = "text") {
        return Json::object{{"id", id}, {"sender", sender}, {"receiver", own_id}, {"type", type}, {"data", data}};
    }
    Json offered_file(const std::string& id, const std::string& name, const std::string& size = "3") {
        return Json::object{
            {"id", id}, {"filename", name}, {"filesize", size}, {"fileurl", "t|r|x"}, {"isDirectory", "0"}};
    }
    void settle() { ASSERT_TRUE(wait_for_background_jobs(20s)); }

    test::temp_folder folder;
    std::uint16_t peer_port = 0;
    std::unique_ptr<stub_peer> b;
    std::shared_ptr<testing::recording_platform> platform;
    testing::recording_ui_sink ui;
    std::unique_ptr<core> victim;
    std::uint16_t port = 0;
    std::string own_id;
    std::string b_key;
};

// Attacks 1, 7 and 9: what a ping may not make this device keep or do.
TEST_F(HostilePeer, PingsThatNameNoPeerItMayKeepChangeNothing) {
    const std::size_t before = devices().size();
    const struct {
        const char* name;
        Json body;
        std::string error;  // "" when the ping is answered as usual
    } cases[] = {
        {"huge id", Json::object{{"device_id", std::string(std::size_t{200} * 1024, 'x')}}, "too_long"},
        {"long alias", Json::object{{"device_id", "zed"}, {"alias", std::string(300, 'a')}, {"sys_info", "s"}},
         "too_long"},
        {"own id", Json::object{{"device_id", own_id}, {"alias", "Evil Twin"}, {"sys_info", "s"}}, ""},
        {"empty id", Json::object{{"device_id", ""}, {"alias", "Nobody"}, {"sys_info", "s"}}, ""},
        {"no id", Json::object{{"alias", "Nobody"}, {"sys_info", "s"}}, ""},
        {"address as id", Json::object{{"device_id", "10.79.0.3"}, {"alias", "A"}, {"sys_info", "s"}}, ""},
        {"own address as id", Json::object{{"device_id", "127.0.0.1"}, {"alias", "A"}, {"sys_info", "s"}}, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Json reply = api_from(attacker, "/ping", c.body);
        if (c.error.empty()) {
            EXPECT_EQ(reply["remote_id"].string_value(), own_id);
        } else {
            EXPECT_EQ(reply["error_code"].string_value(), c.error);
        }
    }
    settle();
    EXPECT_EQ(devices().size(), before);
    EXPECT_EQ(peer_ip_snapshot(), (std::map<std::string, std::string>{{b_id, b_address}}));
    // A body over the limit is refused before a byte of it is read.
    test_connection connection(port, true, "127.0.0.1", 20s, attacker);
    ASSERT_TRUE(connection.send_raw("POST /api/v1/ping HTTP/1.1\r\nHost: x\r\nContent-Length: " +
                                    std::to_string(limits::peer_body_bytes + 1) + "\r\n\r\n"));
    EXPECT_EQ(connection.read_reply().status, 413u);
}

// Attack 8: an address that claims to be B.
TEST_F(HostilePeer, AClaimOfAKnownIdFromAnotherAddressChangesNothing) {
    ASSERT_EQ(api_from(b_address, "/create_chat", chat("c1", b_id, "from B"))["status"].string_value(), "success");
    settle();

    const Json refused = api_from(attacker, "/create_chat", chat("c1", b_id, "overwritten"));
    EXPECT_EQ(refused["error_code"].string_value(), "forbidden");
    EXPECT_EQ(refused["id"].string_value(), "c1");
    EXPECT_EQ(api_from(attacker, "/create_chat", chat("c2", b_id, "new"))["error_code"].string_value(), "forbidden");
    EXPECT_EQ(api_from(attacker, "/ping",
                       Json::object{{"device_id", b_id}, {"alias", "Evil"}, {"sys_info", "s"}})["remote_id"]
                  .string_value(),
              own_id);
    settle();
    const std::vector<Json> chats = chats_with(b_id);
    ASSERT_EQ(chats.size(), 1u);
    EXPECT_EQ(chats[0]["data"].string_value(), "from B");
    EXPECT_EQ(get_peer_ip(b_id), b_address);
    EXPECT_EQ(devices()[b_id]["alias"].string_value(), "Bee");
    EXPECT_EQ(devices()[b_id]["ip"].string_value(), b_address);
}

// Attack 8, the impostor that answers: its key is not B's.
TEST_F(HostilePeer, AnImpostorAnsweringAsBIsToldOnceAndRefused) {
    stub_peer impostor(attacker, peer_port, folder.path() + "evil.pem", b_id);
    ASSERT_NE(impostor.port(), 0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(
            api_from(attacker, "/create_chat", chat("e" + std::to_string(i), b_id, "hi"))["error_code"].string_value(),
            "forbidden");
    }
    settle();
    EXPECT_EQ(db_get_device_key(b_id), b_key);
    EXPECT_EQ(get_peer_ip(b_id), b_address);
    EXPECT_TRUE(chats_with(b_id).empty());
    const std::vector<Json> warnings = events_of("peer_key_changed");
    ASSERT_EQ(warnings.size(), 1u) << "told once";
    EXPECT_EQ(warnings[0]["peer_id"].string_value(), b_id);
    // The user erases B: its key is forgotten, and the next key it shows is trusted.
    ui_call("/erase_chats_for_peer", Json::object{{"peer", b_id}});
    EXPECT_EQ(db_get_device_key(b_id), "");
}

// Attack 10: completion notices for files the sender was never offered.
TEST_F(HostilePeer, CompletionNoticesActOnlyOnFilesOfferedToTheProvenSender) {
    const Json upload = ui_call(
        "/create_upload",
        Json::object{
            {"id", "u1"}, {"sender", own_id}, {"receiver", b_id}, {"files", Json::array{offered_file("", "a.txt")}}});
    ASSERT_EQ(upload["status"].string_value(), "success");
    settle();
    const std::string file_id = ui_call("/chat_info", Json::object{{"id", "u1"}})["files"][0]["id"].string_value();
    ASSERT_FALSE(file_id.empty());
    ui.clear();

    const Json notice = Json::object{{"files", Json::array{Json::object{{"id", file_id}, {"chat_id", "u1"}},
                                                           Json::object{{"id", file_id}, {"chat_id", "<img src=x>"}}}}};
    EXPECT_EQ(api_from(attacker, "/completed_downloads", notice)["error_code"].string_value(), "forbidden");
    EXPECT_EQ(
        api_from(
            b_address, "/completed_downloads",
            Json::object{{"files", Json::array{Json::object{{"id", "f-none"}, {"chat_id", "<img src=x>"}}}}})["status"]
            .string_value(),
        "success");
    settle();
    EXPECT_TRUE(events_of("download_completed").empty());

    EXPECT_EQ(api_from(b_address, "/completed_downloads", notice)["status"].string_value(), "success");
    settle();
    const std::vector<Json> completed = events_of("download_completed");
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0]["chat_id"].string_value(), "u1");
    Json::array too_many(limits::files_per_request + 1, Json::object{{"id", file_id}, {"chat_id", "u1"}});
    EXPECT_EQ(
        api_from(b_address, "/completed_downloads", Json::object{{"files", too_many}})["error_code"].string_value(),
        "too_many_files");
}

// Attacks 11 and 12: what is refused is answered as refused and shown nowhere.
TEST_F(HostilePeer, RefusedChatsAndNoticesAreAnsweredAsSuchAndShownNowhere) {
    const struct {
        const char* name;
        std::string endpoint;
        Json body;
        std::string error;
    } cases[] = {
        {"blank in id", "/create_chat", chat("my chat", b_id, "x"), "invalid_id"},
        {"slash in id", "/create_chat", chat("bad/id", b_id, "x"), "invalid_id"},
        {"long text", "/create_chat", chat("t1", b_id, std::string(limits::text_chat_bytes + 1, 'x')), "too_long"},
        {"for another device", "/create_chat",
         Json::object{{"id", "t2"}, {"sender", b_id}, {"receiver", "someone"}, {"type", "text"}, {"data", "x"}},
         "forbidden"},
        {"upload from a peer", "/create_chat", chat("t3", b_id, Json::object{{"files", Json::array{}}}, "upload"),
         "forbidden"},
        {"too many files", "/create_chat",
         chat("d1", b_id, Json::object{{"files", Json::array(limits::files_per_request + 1, offered_file("f", "a"))}},
              "download"),
         "too_many_files"},
        {"file size not a number", "/create_chat",
         chat("d2", b_id, Json::object{{"files", Json::array{offered_file("f0", "a"), offered_file("f1", "b", "abc")}}},
              "download"),
         "invalid_file_size"},
        {"unsafe file id", "/create_chat",
         chat("d3", b_id, Json::object{{"files", Json::array{offered_file("../f", "a")}}}, "download"), "invalid_id"},
        {"notice without sender", "/mirror_notification", Json::object{{"title", "T"}}, "empty_sender"},
        {"notice too long", "/mirror_notification",
         Json::object{{"title", std::string(limits::notification_text_bytes + 1, 't')}, {"device_id", b_id}},
         "too_long"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Json reply = api_from(b_address, c.endpoint, c.body);
        EXPECT_EQ(reply["status"].string_value(), "error");
        EXPECT_EQ(reply["error_code"].string_value(), c.error);
        if (c.endpoint == "/create_chat") {
            EXPECT_EQ(reply["id"], c.body["id"]);
        }
    }
    settle();
    EXPECT_TRUE(chats_with(b_id).empty());
    EXPECT_TRUE(events_of("new_chat").empty());
    EXPECT_TRUE(events_of("mirror_notification").empty());
    EXPECT_TRUE(platform->toasts().empty());
}

// Attack 12: a file id that another sender holds.
TEST_F(HostilePeer, FileIdsOfAnotherSenderAreRefusedNotDropped) {
    stub_peer c("127.0.0.4", peer_port, folder.path() + "evil.pem", "peerC");
    ASSERT_NE(c.port(), 0);
    ASSERT_EQ(prove_peer_at("127.0.0.4", 10s), "peerC");
    const Json offer = Json::object{{"files", Json::array{offered_file("f1", "a.txt")}}};
    ASSERT_EQ(api_from(b_address, "/create_chat", chat("d1", b_id, offer, "download"))["status"].string_value(),
              "success");
    const Json taken = api_from("127.0.0.4", "/create_chat", chat("d9", "peerC", offer, "download"));
    EXPECT_EQ(taken["error_code"].string_value(), "id_taken");
    EXPECT_EQ(taken["id"].string_value(), "d9");
    settle();
    EXPECT_TRUE(chats_with("peerC").empty());
}

// Attack 13: names of offered files are stored as the one safe relative path.
TEST_F(HostilePeer, OfferedFileNamesAreStoredAsTheirSafeName) {
    const Json offer = Json::object{{"files", Json::array{offered_file("f1", "/etc/passwd"), offered_file("f2", ".."),
                                                          offered_file("f3", "bad\x01name\x1f.txt")}}};
    ASSERT_EQ(api_from(b_address, "/create_chat", chat("d1", b_id, offer, "download"))["status"].string_value(),
              "success");
    settle();
    std::vector<std::string> names;
    for (const char* id : {"f1", "f2", "f3"}) {
        names.push_back(parse(handle_api_request(
            "/info_file", Json(Json::object{{"id", id}, {"type", "download"}}).dump(), "from_ui"))["filename"]
                            .string_value());
    }
    // Folders stay, relative to the folder that receives the file.
    EXPECT_EQ(names, (std::vector<std::string>{"etc/passwd", "file", "badname.txt"}));
}

// Attack 5: a peer's picture over the limit is not kept.
TEST_F(HostilePeer, AnOversizedAvatarIsNotStored) {
    b->set_avatar_answer(
        Json(Json::object{{"status", "success"}, {"avatar", std::string(limits::avatar_bytes + 1, 'a')}}).dump());
    notify_peers_updated(b_id);
    ASSERT_EQ(prove_peer_at(b_address, 10s), b_id);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(devices()[b_id]["avatar"].string_value(), "");
}

}  // namespace
}  // namespace vandrel
