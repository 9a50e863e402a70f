#include "core_lib/net/peers/peer_directory.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/net/http/http_server.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/http/tls_context.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/net/peers/peer_avatar.h"
#include "core_lib/net/peers/public_key.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/settings.h"
#include "tests/support/net_test_support.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;

int drain_resend_queue() {
    int n = 0;
    bool item;
    while (resend_queue().try_dequeue(item)) ++n;
    return n;
}

template <class Predicate>
bool wait_for(Predicate done, std::chrono::milliseconds limit = 10s) {
    auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A peer's API on 127.0.0.1: records each call and answers with `answer_for`.
class stub_peer {
public:
    explicit stub_peer(const std::string& certificate = test::test_certificate_path()) : manager("stub peer") {
        http_server_config config;
        config.host = "127.0.0.1";
        config.tls = make_server_tls_context(certificate);
        config.handler = [this](const http_request& request) {
            std::lock_guard<std::mutex> lock(mutex);
            calls.push_back(request.method + " " + request.target + " " + request.body);
            http_answer answer;
            answer.body = answer_for(request.path);
            return answer;
        };
        std::string error;
        port = start_http_server(manager, std::move(config), error);
        EXPECT_NE(port, 0) << error;
    }
    std::vector<std::string> seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    void answer(const std::string& path, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        answers[path] = text;
    }
    std::uint16_t port = 0;

private:
    std::string answer_for(const std::string& path) {
        auto it = answers.find(path);
        return it == answers.end() ? R"({"status": "success"})" : it->second;
    }
    std::mutex mutex;
    std::vector<std::string> calls;
    std::map<std::string, std::string> answers;
    io_manager manager;
};

class PeerDirectory : public testing::StoreTest {
protected:
    void SetUp() override {
        drain_resend_queue();
        // The pool may run a fetch after the test is over: the record outlives it.
        set_avatar_fetcher([record = record](const std::string& id) {
            std::lock_guard<std::mutex> lock(record->mutex);
            record->ids.push_back(id);
        });
        db_upsert_device("peer-a", "linux/box - maker", "Quiet Owl", "");
        store.exec("update devices set date_updated = '0'");
        store.ui().clear();
    }
    testing::temp_services services;
    std::vector<std::string> fetches() {
        std::lock_guard<std::mutex> lock(record->mutex);
        return record->ids;
    }
    std::int64_t touched_at() { return store.number("select date_updated from devices where id = 'peer-a'"); }

    struct fetch_record {
        std::mutex mutex;
        std::vector<std::string> ids;
    };
    std::shared_ptr<fetch_record> record = std::make_shared<fetch_record>();
};

TEST_F(PeerDirectory, FirstSightingAndEachChangeOfAddressStartTheEffectsOnce) {
    peer_seen("peer-a", "10.0.0.5");
    EXPECT_EQ(get_peer_ip("peer-a"), "10.0.0.5");
    EXPECT_GT(touched_at(), 0);
    EXPECT_EQ(store.ui().count("peers_updated"), 1u);
    EXPECT_EQ(drain_resend_queue(), 1);
    ASSERT_TRUE(wait_for([&] { return fetches().size() == 1; }));

    // The same address, however it is written, changes nothing.
    store.exec("update devices set date_updated = '0'");
    for (const std::string same : {"10.0.0.5", "::ffff:10.0.0.5", "[::ffff:10.0.0.5]"}) peer_seen("peer-a", same);
    EXPECT_EQ(touched_at(), 0);
    EXPECT_EQ(store.ui().count("peers_updated"), 1u);
    EXPECT_EQ(drain_resend_queue(), 0);

    peer_seen("peer-a", "FE80::1%3");
    EXPECT_EQ(get_peer_ip("peer-a"), "[fe80::1]");
    EXPECT_GT(touched_at(), 0);
    EXPECT_EQ(store.ui().count("peers_updated"), 2u);
    EXPECT_EQ(drain_resend_queue(), 1);
    EXPECT_EQ(store.ui().texts().back(), R"({"action": "peers_updated"})");
    // The picture is fetched once per key, not per address: a new key fetches again.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(fetches().size(), 1u);
    db_set_device_key("peer-a", "another key");
    peer_seen("peer-a", "10.0.0.5");
    ASSERT_TRUE(wait_for([&] { return fetches().size() == 2; }));
}

TEST_F(PeerDirectory, OriginsThatAreNoAddressesAreNeverStored) {
    for (const std::string origin : {"from_ui", "test", "", "peer.lan", "1.2.3.4:45001", "garbage"}) {
        peer_seen("peer-a", origin);
    }
    peer_seen("", "10.0.0.5");
    EXPECT_TRUE(peer_ip_snapshot().empty());
    EXPECT_EQ(store.ui().count("peers_updated"), 0u);
    EXPECT_EQ(drain_resend_queue(), 0);
}

TEST_F(PeerDirectory, ForgottenPeerCountsAsChangedWhenSeenAgain) {
    peer_seen("peer-a", "10.0.0.5");
    notify_peers_updated("peer-a");
    EXPECT_EQ(get_peer_ip("peer-a"), "");
    peer_seen("peer-a", "10.0.0.5");
    EXPECT_EQ(get_peer_ip("peer-a"), "10.0.0.5");
    EXPECT_EQ(store.ui().count("peers_updated"), 3u);  // seen, forgotten, seen
    // Both sightings are of a peer not held: the second one's wake-up waits out the pause.
    EXPECT_EQ(drain_resend_queue(), 1);
    EXPECT_TRUE(wait_for([] { return held_newcomer_wake_due(); }, newcomer_wake_pause * 3));

    peer_seen("peer-b", "10.0.0.6");
    notify_peers_reset();
    EXPECT_TRUE(peer_ip_snapshot().empty());
    EXPECT_EQ(store.ui().count("peers_updated"), 5u);
}

TEST_F(PeerDirectory, LookupsOfUnknownPeersInsertNothing) {
    EXPECT_EQ(get_peer_ip("nobody"), "");
    EXPECT_TRUE(peer_ip_snapshot().empty());
}

TEST_F(PeerDirectory, ThisDeviceAsItsOwnPeerCountsOnlyForTheTransferLoops) {
    const std::string own = get_userid();
    EXPECT_TRUE(peer_seen("peer-b", "10.0.0.6"));
    // The self test registers this device as its own peer, and again.
    EXPECT_TRUE(peer_seen(own, "127.0.0.1"));
    EXPECT_TRUE(peer_seen(own, "127.0.0.1")) << "an address held already is recorded all the same";
    EXPECT_FALSE(peer_seen(own, "test")) << "no address";
    EXPECT_TRUE(peer_seen("peer-a", "10.0.0.5"));
    EXPECT_TRUE(peer_seen("peer-c", "127.0.0.1"));
    EXPECT_EQ(get_peer_ip(own), "127.0.0.1");
    EXPECT_EQ(seen_peer_ids(), (std::vector<std::string>{"peer-a", "peer-b", "peer-c"}));
    EXPECT_EQ(transfer_peer_ids(), (std::vector<std::string>{"peer-a", "peer-b", "peer-c", own}));
    // An address never speaks for this device.
    EXPECT_EQ(peers_at_address("127.0.0.1"), (std::vector<std::string>{"peer-c"}));
    ASSERT_TRUE(wait_for([&] { return fetches().size() == 3; }));
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(fetches().size(), 3u) << "this device fetches no picture of its own";

    forget_peer_ip(own);
    EXPECT_EQ(transfer_peer_ids(), (std::vector<std::string>{"peer-a", "peer-b", "peer-c"}));
}

TEST_F(PeerDirectory, PeerApiUrls) {
    set_peer_api_port(45001);
    EXPECT_EQ(peer_api_url("[fe80::1]", "/ping"), "https://[fe80::1]:45001/api/v1/ping");
    EXPECT_EQ(peer_api_url("192.168.1.5", "/create_chat"), "https://192.168.1.5:45001/api/v1/create_chat");
}

TEST_F(PeerDirectory, PostToPeerApiGoesToTheDirectoryAndPinsTheKeyItFirstSees) {
    stub_peer peer;
    set_peer_api_port(peer.port);
    // Not in the directory: its stored address is never called.
    store.exec("update devices set last_ip = '127.0.0.1' where id = 'peer-a'");
    EXPECT_EQ(post_to_peer_api("peer-a", "/ping", "{}"), "");
    EXPECT_TRUE(peer.seen().empty());

    set_peer_ip("peer-a", "127.0.0.1");
    EXPECT_EQ(post_to_peer_api("peer-a", "/ping", R"({"device_id": "me"})"), R"({"status": "success"})");
    const std::string pinned = db_get_device_key("peer-a");
    EXPECT_EQ(pinned, certificate_key_sha256(test::test_certificate_path()));
    EXPECT_EQ(post_to_peer_api("peer-a", "/get_avatar", ""), R"({"status": "success"})");
    EXPECT_EQ(peer.seen(),
              (std::vector<std::string>{"POST /api/v1/ping {\"device_id\": \"me\"}", "GET /api/v1/get_avatar "}));
    // An IP address is never taken for a device id.
    EXPECT_EQ(post_to_peer_api("127.0.0.1", "/who_am_i", "{}"), "");
}

TEST_F(PeerDirectory, AnotherKeyAtThePeersAddressIsNoAnswer) {
    test::temp_folder folder;
    const std::string other = folder.path() + "other.pem";
    test::write_self_signed_pem(other, 2048, "other", 2, 0, 86400, false);
    set_peer_ip("peer-a", "127.0.0.1");
    db_set_device_key("peer-a", certificate_key_sha256(test::test_certificate_path()));
    stub_peer impostor(other);
    set_peer_api_port(impostor.port);
    EXPECT_EQ(post_to_peer_api("peer-a", "/create_chat", "{}"), "");
    EXPECT_EQ(db_get_device_key("peer-a"), certificate_key_sha256(test::test_certificate_path()));
    EXPECT_EQ(impostor.seen().size(), 1u) << "it was asked, and its answer dropped";
}

TEST_F(PeerDirectory, NoAnswerLeavesTheDirectoryAlone) {
    EXPECT_EQ(post_to_peer_api("nobody", "/ping", "{}"), "");
    // An address where nothing answers: "" and no sighting.
    set_peer_ip("peer-a", "127.0.0.1");
    set_peer_api_port(1);
    store.ui().clear();
    EXPECT_EQ(post_to_peer_api("peer-a", "/ping", "{}"), "");
    EXPECT_EQ(db_get_device_key("peer-a"), "");
    EXPECT_EQ(store.ui().count("peers_updated"), 0u);
}

TEST_F(PeerDirectory, AvatarIsFetchedOncePerPeerAndKeyAndStoredAsItCame) {
    stub_peer peer;
    set_peer_api_port(peer.port);
    const std::string avatar = "data:image/jpeg;base64,/9j/4AAQ";
    peer.answer("/api/v1/get_avatar", Json(Json::object{{"status", "success"}, {"avatar", avatar}}).dump());
    std::atomic<int> finished{0};
    set_avatar_fetcher([&](const std::string& id) {
        fetch_peer_avatar(id);
        ++finished;
    });
    db_set_device_key("peer-a", certificate_key_sha256(test::test_certificate_path()));
    peer_seen("peer-a", "127.0.0.1");
    ASSERT_TRUE(wait_for([&] { return finished == 1; }));
    notify_peers_updated("peer-a");
    peer_seen("peer-a", "127.0.0.1");
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(finished, 1);
    EXPECT_EQ(store.text("select avatar from devices where id = 'peer-a'"), avatar);
    EXPECT_EQ(peer.seen(), std::vector<std::string>{"GET /api/v1/get_avatar "});
}

TEST_F(PeerDirectory, ASilentAddressHoldsUpNoOtherPeersAvatar) {
    std::mutex gate;
    std::unique_lock<std::mutex> held(gate);
    std::atomic<int> started{0};
    std::atomic<int> finished{0};
    set_avatar_fetcher([&](const std::string& id) {
        ++started;
        if (id == "peer-a") std::lock_guard<std::mutex> wait(gate);
        ++finished;
    });
    peer_seen("peer-a", "10.0.0.5");
    ASSERT_TRUE(wait_for([&] { return started == 1; }));
    // While that fetch hangs, another peer's picture comes all the same; the same
    // address gets no second fetch meanwhile.
    db_upsert_device("peer-c", "s", "c", "");
    peer_seen("peer-c", "10.0.0.7");
    ASSERT_TRUE(wait_for([&] { return finished == 1; }));
    db_set_device_key("peer-a", "new key");
    notify_peers_updated("peer-a");
    peer_seen("peer-a", "10.0.0.5");
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(started, 2);
    held.unlock();
    ASSERT_TRUE(wait_for([&] { return finished == 2; }));
}

TEST_F(PeerDirectory, AvatarAnswersThatAreNotSuccessOrTooBigStoreNothing) {
    stub_peer peer;
    set_peer_api_port(peer.port);
    set_peer_ip("peer-a", "127.0.0.1");
    store.exec("update devices set avatar = 'old' where id = 'peer-a'");
    const std::string answers[] = {
        R"({"status": "error", "avatar": "data:x"})",
        R"({"status": "success", "avatar": 5})",
        R"({"status": "success"})",
        "not json",
        R"({"status": true, "avatar": "data:x"})",
        Json(Json::object{{"status", "success"}, {"avatar", std::string(limits::avatar_bytes + 1, 'a')}}).dump(),
    };
    for (const auto& text : answers) {
        SCOPED_TRACE(text.substr(0, 60));
        peer.answer("/api/v1/get_avatar", text);
        fetch_peer_avatar("peer-a");
        EXPECT_EQ(store.text("select avatar from devices where id = 'peer-a'"), "old");
    }
}

TEST_F(PeerDirectory, TheDirectoryKeepsTheMostRecentPeersOnly) {
    for (std::size_t i = 0; i < limits::known_peers + 10; ++i) set_peer_ip("p" + std::to_string(i), "10.0.0.9");
    EXPECT_EQ(peer_ip_snapshot().size(), limits::known_peers);
    EXPECT_EQ(get_peer_ip("p0"), "") << "the oldest went first";
    EXPECT_EQ(get_peer_ip("p" + std::to_string(limits::known_peers + 9)), "10.0.0.9");
}

TEST_F(PeerDirectory, PeersWithChatsAreNeverPushedOutByNewcomers) {
    // The honest peer has chats and was seen first, so it is the oldest entry.
    db_upsert_device("honest", "os", "Honest", "");
    ASSERT_TRUE(db_insert_chat("", "h1", "honest", get_userid(), "text", "hello"));
    peer_seen("honest", "10.0.0.2");
    for (std::size_t i = 0; i < limits::known_peers * 2; ++i) peer_seen("new-" + std::to_string(i), "10.0.1.9");
    EXPECT_EQ(get_peer_ip("honest"), "10.0.0.2");
    EXPECT_EQ(peer_ip_snapshot().size(), limits::known_peers);

    // A peer whose first chat came while it was held is kept from then on too.
    set_peer_ip("later", "10.0.0.3");
    ASSERT_TRUE(db_insert_chat("", "l1", get_userid(), "later", "text", "hi"));
    for (std::size_t i = 0; i < limits::known_peers * 2; ++i) peer_seen("newer-" + std::to_string(i), "10.0.1.9");
    EXPECT_EQ(get_peer_ip("later"), "10.0.0.3");

    // A table of kept peers only takes no newcomer at all.
    clear_peer_ips();
    for (std::size_t i = 0; i < limits::known_peers; ++i) set_peer_ip("kept-" + std::to_string(i), "10.0.2.1", true);
    EXPECT_FALSE(peer_seen("stranger", "10.0.1.9"));
    EXPECT_EQ(get_peer_ip("kept-0"), "10.0.2.1");
    EXPECT_TRUE(set_peer_ip("kept-more", "10.0.2.1", true)) << "a kept peer takes the place of the oldest kept";
    EXPECT_EQ(get_peer_ip("kept-0"), "");
}

TEST_F(PeerDirectory, NewcomersWakeTheResendLoopAtMostOncePerPauseAndNoWakeIsLost) {
    drain_resend_queue();
    for (int i = 0; i < 200; ++i) peer_seen("burst-" + std::to_string(i), "10.0.3." + std::to_string(i % 250));
    const int woken = drain_resend_queue();
    EXPECT_LE(woken, 1);
    // What the burst held back is due once the pause is over, once.
    EXPECT_TRUE(wait_for([] { return held_newcomer_wake_due(); }, newcomer_wake_pause * 3));
    EXPECT_FALSE(held_newcomer_wake_due());
    // A known peer's change of address wakes the loop at once.
    peer_seen("burst-1", "10.0.4.1");
    EXPECT_EQ(drain_resend_queue(), 1);
}

}  // namespace
}  // namespace vandrel
