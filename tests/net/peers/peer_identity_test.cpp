#include "core_lib/net/peers/peer_identity.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/net/peers/peer_avatar.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/peer_addresses.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::stub_peer;

// Two hosts on loopback addresses whose ping answers name a new device id each time.
class PeerIdentity : public ::testing::Test {
protected:
    void SetUp() override {
        stubs = testing::start_stub_peers({{"127.0.0.2", "host-a", ""}, {"127.0.0.3", "host-b", ""}});
        ASSERT_EQ(stubs.size(), 2u);
        set_peer_api_port(stubs[0]->port());
        set_avatar_fetcher(nullptr);
        for (auto& stub : stubs) {
            auto next = std::make_shared<std::atomic<int>>(0);
            const std::string host = stub->id();
            stub->answer_with("/api/v1/ping", [host, next](const http_request&) {
                http_answer answer;
                answer.body = Json(Json::object{{"remote_id", host + "-" + std::to_string(++*next)},
                                                {"alias", "A"},
                                                {"sys_info", "S"},
                                                {"status", "success"}})
                                  .dump();
                return answer;
            });
        }
    }

    testing::temp_store store;
    std::vector<std::unique_ptr<stub_peer>> stubs;
    testing::temp_services services{testing::loopback_config()};
};

TEST_F(PeerIdentity, OneAddressBringsOnlyAFewNewIdsWhileKnownIdsStillCount) {
    std::vector<std::string> proven;
    for (std::size_t i = 0; i < limits::new_ids_per_address + 3; ++i) proven.push_back(prove_peer_at("127.0.0.2", 5s));
    for (std::size_t i = 0; i < proven.size(); ++i) {
        EXPECT_EQ(proven[i], i < limits::new_ids_per_address ? "host-a-" + std::to_string(i + 1) : "") << i;
    }
    EXPECT_EQ(store.number("select count(*) from devices"), static_cast<std::int64_t>(limits::new_ids_per_address));
    EXPECT_EQ(get_peer_ip("host-a-" + std::to_string(limits::new_ids_per_address + 1)), "");

    // Another address has its own share.
    EXPECT_EQ(prove_peer_at("127.0.0.3", 5s), "host-b-1");

    // An id stored before is no newcomer: the host may go on proving it.
    stubs[0]->answer_with("/api/v1/ping", [](const http_request&) {
        http_answer answer;
        answer.body = R"({"remote_id": "host-a-1", "alias": "A2", "sys_info": "S", "status": "success"})";
        return answer;
    });
    forget_peer_ip("host-a-1");
    EXPECT_EQ(prove_peer_at("127.0.0.2", 5s), "host-a-1");
    EXPECT_EQ(db_get_device("host-a-1")["alias"].string_value(), "A2");
}

TEST_F(PeerIdentity, AFullDeviceTableTakesNewcomersOnlyInPlaceOfDevicesWithoutChats) {
    // A table filled with devices this one has chats with has no room to give.
    for (std::size_t i = 0; i < limits::stored_devices; ++i) {
        const std::string id = "old-" + std::to_string(i);
        store.exec("insert into devices (id, key_sha256) values ('" + id + "', 'k')");
        store.exec("insert into chats (id, sender, receiver) values ('c" + std::to_string(i) + "', '" + id +
                   "', 'me')");
    }
    EXPECT_EQ(prove_peer_at("127.0.0.2", 5s), "");
    EXPECT_TRUE(db_get_device("host-a-1").is_null());

    // One without chats makes room.
    store.exec("delete from chats where sender = 'old-7'");
    EXPECT_EQ(prove_peer_at("127.0.0.2", 5s), "host-a-2");
    EXPECT_TRUE(db_get_device("old-7").is_null());
    EXPECT_EQ(store.number("select count(*) from devices"), static_cast<std::int64_t>(limits::stored_devices));
}

}  // namespace
}  // namespace vandrel
