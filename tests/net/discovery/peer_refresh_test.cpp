#include "core_lib/net/discovery/peer_refresh.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/public_key.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/settings.h"
#include "tests/support/net_test_support.h"
#include "tests/support/store_locker.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::stub_peer;
using testing::wait_until;

const std::string ping = "/api/v1/ping";

Json parse(const std::string& text) {
    std::string err;
    return Json::parse(text, err);
}

// peer-r answers on 127.0.0.2; on 127.0.0.3 this device's own id answers (its own
// address among the stored ones).
class PeerRefresh : public ::testing::Test {
protected:
    void SetUp() override {
        own = get_userid();
        (void)get_alias();  // made at the first read, which asks for another pass
        stubs = testing::start_stub_peers({{"127.0.0.2", "peer-r", ""}, {"127.0.0.3", own, ""}});
        ASSERT_EQ(stubs.size(), 2u);
        r = stubs[0].get();
        self = stubs[1].get();
        services = std::make_unique<testing::temp_services>(testing::loopback_config(r->port()));
        store.ui().clear();
    }
    void TearDown() override { services.reset(); }

    testing::temp_store store;
    std::string own;
    std::vector<std::unique_ptr<stub_peer>> stubs;
    stub_peer* r = nullptr;
    stub_peer* self = nullptr;
    std::unique_ptr<testing::temp_services> services;
};

TEST_F(PeerRefresh, APingStoresAndRecordsTheDeviceThatAnswersWithItsKey) {
    const struct {
        const char* address;
        std::string recorded;  // "" when nothing may be kept
    } cases[] = {
        {"::ffff:127.0.0.2", "127.0.0.2"},  // kept in the normal form
        {"127.0.0.9", ""},                  // nobody answers
        {"from_ui", ""},                    // no address: no call at all
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.address);
        ping_peer(c.address);
        EXPECT_EQ(get_peer_ip("peer-r"), c.recorded);
        if (c.recorded.empty()) continue;
        const Json device = db_get_device("peer-r");
        EXPECT_EQ(device["alias"].string_value(), "Stub peer-r");
        EXPECT_EQ(device["sys_info"].string_value(), "stub/os");
        EXPECT_EQ(store.text("select last_ip from devices where id = 'peer-r'"), c.recorded);
        EXPECT_EQ(db_get_device_key("peer-r"), certificate_key_sha256(test::test_certificate_path()));
        forget_peer_ip("peer-r");
    }
    // One call in all, carrying this device's identity.
    const std::vector<stub_peer::request> pings = r->received(ping);
    ASSERT_EQ(pings.size(), 1u);
    EXPECT_EQ(parse(pings[0].body),
              Json(Json::object{{"alias", get_alias()}, {"device_id", own}, {"sys_info", get_device_model()}}));
}

TEST_F(PeerRefresh, AnAnswerWithThisDevicesOwnIdChangesNothing) {
    ping_peer("127.0.0.3");
    EXPECT_EQ(self->count(ping), 1u);
    EXPECT_TRUE(peer_ip_snapshot().empty());
    EXPECT_TRUE(db_get_device(own).is_null());
    EXPECT_EQ(db_get_device_key(own), "");
    EXPECT_EQ(store.ui().count("peers_updated"), 0u);
}

TEST_F(PeerRefresh, TheLoopPingsTheStoredAddressesWhenTheFlagIsRaised) {
    db_upsert_device("peer-r", "old/os", "Old Name", "127.0.0.2");
    db_upsert_device("peer-gone", "old/os", "Gone", "127.0.0.3");  // now this device answers there
    peer_refresh_flag() = true;
    services->net().threads.start("peer refresh", refresh_peers_loop);

    ASSERT_TRUE(wait_until([] { return get_peer_ip("peer-r") == "127.0.0.2"; }));
    EXPECT_EQ(db_get_device("peer-r")["alias"].string_value(), "Stub peer-r");
    ASSERT_TRUE(wait_until([&] { return self->count(ping) == 1; }));
    EXPECT_FALSE(peer_refresh_flag());
    EXPECT_EQ(get_peer_ip("peer-gone"), "");
    EXPECT_EQ(get_peer_ip(own), "");

    // Another raise, another pass.
    peer_refresh_flag() = true;
    ASSERT_TRUE(wait_until([&] { return r->count(ping) == 2 && self->count(ping) == 2; }));
    EXPECT_EQ(peer_ip_snapshot(), (std::map<std::string, std::string>{{"peer-r", "127.0.0.2"}}));
}

// The store locked by another program while the core starts: the pass fails, and the
// loop tries again until it can read the addresses.
TEST_F(PeerRefresh, APassThatFindsTheStoreLockedIsTriedAgainOnceItIsFree) {
    db_upsert_device("peer-r", "old/os", "Old Name", "127.0.0.2");
    testing::store_locker locker(store);
    ASSERT_TRUE(locker.locked()) << "the other program did not get its lock";
    peer_refresh_flag() = true;
    services->net().threads.start("peer refresh", refresh_peers_loop);
    ASSERT_TRUE(wait_until([] { return !peer_refresh_flag(); }));
    // Long enough for the store to give up waiting for the lock.
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(r->count(ping), 0);

    ASSERT_TRUE(locker.release());
    ASSERT_TRUE(wait_until([&] { return r->count(ping) >= 1; }, std::chrono::seconds(60)));
    ASSERT_TRUE(wait_until([] { return get_peer_ip("peer-r") == "127.0.0.2"; }));
}

}  // namespace
}  // namespace vandrel
