// Fixture for request API tests: a fresh temporary store with a recording platform and
// UI sink, the services of a core (not started), a simulated hotspot, and calls that
// go through handle_api_request exactly as the interface's or a peer's do. Avatar
// fetches are off (no network); background jobs are waited for before the store goes.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "MeskRuntimeComponent/hotspot.h"
#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/api/hotspot_control.h"
#include "core_lib/foundation/json.h"
#include "core_lib/net/delivery/mirror_queue.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/net/peers/peer_avatar.h"
#include "core_lib/net/transfer/transfer_slots.h"
#include "core_lib/store/settings.h"
#include "tests/support/simulated_hotspot.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel::api_test {

// A loopback address, so that a proof of it (a ping to its port 1) never leaves the
// machine and fails at once.
inline const std::string peer_address = "127.0.0.7";

inline Json parse(const std::string& text) {
    std::string err;
    return Json::parse(text, err);
}

inline std::size_t drain_resend_wakeups() {
    std::size_t count = 0;
    bool woken;
    while (resend_queue().try_dequeue(woken)) ++count;
    return count;
}

inline std::vector<Json> drain_mirror_queue() {
    std::vector<Json> taken;
    Json item;
    while (mirror_queue().try_dequeue(item)) taken.push_back(item);
    return taken;
}

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        hotspot_backend = std::make_shared<testing::SimulatedHotspotBackend>();
        current_platform::get().set_hotspot(std::make_shared<WlanHostedNetworkHelper>(hotspot_backend));
        own_id = get_userid();
        alias = get_alias();
        drain_resend_wakeups();
        drain_mirror_queue();
        store.ui().clear();
    }

    void TearDown() override {
        EXPECT_TRUE(wait_for_background_jobs(std::chrono::seconds(20)));
        drain_resend_wakeups();
        drain_mirror_queue();
    }

    std::string call_text(const std::string& endpoint, const Json& body, const std::string& origin = "from_ui") {
        return handle_api_request(endpoint, body.dump(), origin);
    }
    Json call(const std::string& endpoint, const Json& body = Json::object{}, const std::string& origin = "from_ui") {
        return parse(call_text(endpoint, body, origin));
    }
    void settle() { ASSERT_TRUE(wait_for_background_jobs(std::chrono::seconds(20))); }

    // Events of one action, parsed.
    std::vector<Json> events_of(const std::string& action) {
        std::vector<Json> found;
        for (const Json& event : store.ui().events()) {
            if (event["action"].string_value() == action) found.push_back(event);
        }
        return found;
    }

    testing::temp_store store;
    // Peers seen here live at documentation addresses: the services never fetch from them.
    testing::temp_services services;
    std::shared_ptr<testing::SimulatedHotspotBackend> hotspot_backend;
    std::string own_id;
    std::string alias;
};

}  // namespace vandrel::api_test
