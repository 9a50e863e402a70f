#include "core_lib/net/discovery/lan_announce.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>

#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_address.h"
#include "core_lib/net/peers/public_key.h"
#include "core_lib/store/announce_text.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/settings.h"
#include "tests/support/net_test_support.h"
#include "tests/support/network_platform.h"
#include "tests/support/store_locker.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::wait_until;

// A UDP socket on one loopback address and the announce port: it speaks as a device
// there and hears what is sent to that device.
class udp_device {
public:
    udp_device(const std::string& address, std::uint16_t port) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local = endpoint(address, port);
        bound_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0;
    }
    ~udp_device() {
        if (fd_ >= 0) ::close(fd_);
    }
    udp_device(const udp_device&) = delete;
    udp_device& operator=(const udp_device&) = delete;

    bool bound() const { return bound_; }
    void send(const std::string& text, std::uint16_t port, const std::string& to = "127.0.0.1") const {
        sockaddr_in target = endpoint(to, port);
        (void)::sendto(fd_, text.data(), text.size(), 0, reinterpret_cast<sockaddr*>(&target), sizeof target);
    }
    // The next datagram that arrives within the time.
    std::optional<std::string> receive(std::chrono::milliseconds within = 10s) const {
        pollfd ready{fd_, POLLIN, 0};
        if (::poll(&ready, 1, static_cast<int>(within.count())) <= 0) return std::nullopt;
        char buffer[2048];
        const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
        if (n < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(n));
    }
    // Whatever has arrived already.
    std::vector<std::string> waiting() const {
        std::vector<std::string> texts;
        while (auto text = receive(0ms)) texts.push_back(*text);
        return texts;
    }

private:
    static sockaddr_in endpoint(const std::string& address, std::uint16_t port) {
        sockaddr_in result{};
        result.sin_family = AF_INET;
        result.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &result.sin_addr);
        return result;
    }
    int fd_;
    bool bound_ = false;
};

// A port that was free on 127.0.0.1 a moment ago.
std::uint16_t free_udp_port() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof local;
    std::uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &size) == 0) {
        port = ntohs(local.sin_port);
    }
    ::close(fd);
    return port;
}

announce_service& announce() { return current_net::get().announce; }

bool handling_settled() {
    return announce().handling.wait_idle(20s) && current_net::get().proofs.datagram_pool.wait_idle(20s);
}

// What the reply table holds, read on the service's own thread.
std::size_t reply_entries() {
    std::promise<std::size_t> size;
    {
        std::lock_guard<std::mutex> lock(announce().mutex);
        if (!announce().manager) return 0;
        boost::asio::post(announce().manager->context(),
                          [&size] { size.set_value(announce().last_announce_reply.size()); });
    }
    return size.get_future().get();
}

TEST(AnnounceDatagrams, OnlyThreeFieldsWithinTheLimitsFromAnotherDeviceAreTaken) {
    testing::temp_store store;
    testing::temp_services services{testing::loopback_config()};
    const std::string own = get_userid();
    // The limits of a peer's id and of its alias and model, in bytes.
    const std::string id_at_limit(128, 'i');
    const std::string text_at_limit(256, 'a');
    const struct {
        const char* name;
        std::string payload;
        std::string from;
        bool taken;
    } cases[] = {
        {"an announce", "peer-v|linux/box|Quiet Owl", "127.0.0.2", true},
        {"empty texts", "peer-v||", "127.0.0.2", true},
        {"mapped source", "peer-v|s|a", "::ffff:127.0.0.2", true},
        {"texts at their limits", id_at_limit + "|" + text_at_limit + "|" + text_at_limit, "127.0.0.2", true},
        {"two fields", "peer-v|linux/box", "127.0.0.2", false},
        {"four fields", "peer-v|linux/box|Owl|extra", "127.0.0.2", false},
        {"no field", "", "127.0.0.2", false},
        {"this device", own + "|linux/box|Me", "127.0.0.2", false},
        {"empty id", "|linux/box|Owl", "127.0.0.2", false},
        {"id over its limit", id_at_limit + "i|s|a", "127.0.0.2", false},
        {"model over its limit", "peer-v|" + text_at_limit + "a|a", "127.0.0.2", false},
        {"alias over its limit", "peer-v|s|" + text_at_limit + "a", "127.0.0.2", false},
        {"address as id", "10.0.0.5|s|a", "127.0.0.2", false},
        {"loopback address as id", "127.0.0.2|s|a", "127.0.0.2", false},
        {"id with a slash", "../peer|s|a", "127.0.0.2", false},
        {"source no address", "peer-v|s|a", "from_ui", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(handle_announce(c.payload, c.from), c.taken);
    }
    ASSERT_TRUE(handling_settled());
    // Unproven announcers, and nobody answers where they claim to be: nothing kept.
    EXPECT_EQ(store.number("select count(*) from devices"), 0);
    EXPECT_TRUE(peer_ip_snapshot().empty());
}

// The announce service of a core bound to 127.0.0.1 on a port of the test's own; a
// peer on 127.0.0.3 answers pings as peer-q.
class LanAnnounce : public ::testing::Test {
protected:
    void SetUp() override {
        stubs = testing::start_stub_peers({{"127.0.0.3", "peer-q", ""}});
        ASSERT_EQ(stubs.size(), 1u);
        port = free_udp_port();
        ASSERT_NE(port, 0);
        net_config config = testing::loopback_config(stubs[0]->port());
        config.announce_port = port;
        services = std::make_unique<testing::temp_services>(config);
        own = get_userid();
        start_udp_announce_service();
        std::lock_guard<std::mutex> lock(announce().mutex);
        ASSERT_TRUE(announce().manager) << "the announce port could not be bound";
    }
    void TearDown() override { services.reset(); }

    testing::temp_store store;
    std::vector<std::unique_ptr<testing::stub_peer>> stubs;
    std::unique_ptr<testing::temp_services> services;
    std::uint16_t port = 0;
    std::string own;
};

TEST_F(LanAnnounce, AnAnnounceIsAnsweredOnceWithinThreeSecondsPerAddress) {
    udp_device a("127.0.0.2", port);
    udp_device other("127.0.0.4", port);
    ASSERT_TRUE(a.bound() && other.bound());

    a.send("peer-a|s|A", port);
    EXPECT_EQ(a.receive(), make_datagram()) << "straight back to the announcer";
    a.send("peer-a|s|A", port);
    // The other device's answer comes after any answer to the second announce would.
    other.send("peer-o|s|O", port);
    EXPECT_EQ(other.receive(), make_datagram());
    EXPECT_TRUE(a.waiting().empty());

    std::this_thread::sleep_for(3100ms);
    a.send("peer-a|s|A", port);
    EXPECT_EQ(a.receive(), make_datagram());
}

TEST_F(LanAnnounce, AFloodFromManyAddressesIsAnsweredWithinTheRateAndKeepsTheTableSmall) {
    constexpr int sources = 200;
    std::vector<std::unique_ptr<udp_device>> devices;
    for (int i = 0; i < sources; ++i) {
        devices.push_back(std::make_unique<udp_device>("127.1.0." + std::to_string(i + 1), port));
        ASSERT_TRUE(devices.back()->bound()) << i;
    }
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < sources; ++i) devices[i]->send("flood-" + std::to_string(i) + "|s|a", port);
    std::this_thread::sleep_for(1500ms);
    std::size_t replies = 0;
    for (const auto& device : devices) replies += device->waiting().size();
    const std::size_t entries = reply_entries();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    const double allowed = announce_replies_per_second * (1 + seconds) + 1;
    EXPECT_GE(static_cast<double>(replies), announce_replies_per_second) << "the burst allowed is answered";
    EXPECT_LE(static_cast<double>(replies), allowed);
    EXPECT_LE(static_cast<double>(entries), allowed);
    EXPECT_LE(entries, announce_reply_entries);
}

TEST_F(LanAnnounce, AnnounceOfAPeerProvenAtItsAddressUpdatesItsStoredTexts) {
    db_upsert_device("peer-p", "old/os", "Old Name", "127.0.0.2");
    set_peer_ip("peer-p", "127.0.0.2");
    udp_device p("127.0.0.2", port);
    udp_device forger("127.0.0.5", port);

    p.send("peer-p|new/os|New Name", port);
    ASSERT_TRUE(wait_until([] { return db_get_device("peer-p")["alias"].string_value() == "New Name"; }));
    EXPECT_EQ(db_get_device("peer-p")["sys_info"].string_value(), "new/os");

    // The same id from another address is a claim to prove; nobody answers there.
    forger.send("peer-p|evil/os|Forged", port);
    p.send("peer-p|new/os|Newest", port);
    ASSERT_TRUE(wait_until([] { return db_get_device("peer-p")["alias"].string_value() == "Newest"; }));
    ASSERT_TRUE(handling_settled());
    EXPECT_EQ(db_get_device("peer-p")["alias"].string_value(), "Newest");
    EXPECT_EQ(get_peer_ip("peer-p"), "127.0.0.2");
    EXPECT_EQ(store.text("select last_ip from devices where id = 'peer-p'"), "127.0.0.2");
}

TEST_F(LanAnnounce, AnnounceOfAnUnprovenPeerIsRecordedOnlyByItsProof) {
    udp_device q("127.0.0.3", port);
    q.send("peer-q|announced/os|Announced", port);
    ASSERT_TRUE(wait_until([] { return get_peer_ip("peer-q") == "127.0.0.3"; }));
    const std::vector<testing::stub_peer::request> pings = stubs[0]->received("/api/v1/ping");
    ASSERT_EQ(pings.size(), 1u);
    std::string err;
    EXPECT_EQ(Json::parse(pings[0].body, err)["device_id"].string_value(), own);
    // Stored as its ping answer describes it, with the key it showed.
    EXPECT_EQ(db_get_device("peer-q")["alias"].string_value(), "Stub peer-q");
    EXPECT_EQ(db_get_device_key("peer-q"), certificate_key_sha256(test::test_certificate_path()));

    // A claim where nobody answers records nothing.
    udp_device nobody("127.0.0.6", port);
    nobody.send("peer-n|s|N", port);
    ASSERT_TRUE(handling_settled());
    EXPECT_EQ(get_peer_ip("peer-n"), "");
    EXPECT_TRUE(db_get_device("peer-n").is_null());
}

TEST_F(LanAnnounce, AnnouncesUnderEverNewIdsFromOneHostMakeItCalledOncePerPause) {
    udp_device q("127.0.0.3", port);
    q.send("peer-q|s|Q", port);
    ASSERT_TRUE(wait_until([] { return get_peer_ip("peer-q") == "127.0.0.3"; }));
    for (int i = 0; i < 30; ++i) q.send("forged-" + std::to_string(i) + "|s|F", port);
    ASSERT_TRUE(handling_settled());
    std::this_thread::sleep_for(300ms);  // a proof started last would have pinged by now
    EXPECT_EQ(stubs[0]->received("/api/v1/ping").size(), 1u) << "the host was called again within the pause";
    for (int i = 0; i < 30; ++i) EXPECT_EQ(get_peer_ip("forged-" + std::to_string(i)), "");
}

TEST_F(LanAnnounce, ABurstGoesToEveryBroadcastAddressAndClearsTheFlag) {
    testing::network_doubles doubles = testing::install_network_doubles();
    doubles.platform->set_broadcast_addresses({"127.0.0.2", "127.0.0.4"});
    udp_device first("127.0.0.2", port);
    udp_device second("127.0.0.4", port);
    lan_announce_flag() = true;
    services->net().threads.start("lan announce", lan_announce_loop);
    // The first two sends of the burst, 2 s apart.
    for (const udp_device* device : {&first, &second}) {
        EXPECT_EQ(device->receive(), make_datagram());
        EXPECT_EQ(device->receive(), make_datagram());
    }
    EXPECT_FALSE(lan_announce_flag());
}

TEST_F(LanAnnounce, ABurstThatFindsTheStoreLockedIsSentOnceItIsFree) {
    testing::network_doubles doubles = testing::install_network_doubles();
    doubles.platform->set_broadcast_addresses({"127.0.0.2"});
    udp_device device("127.0.0.2", port);
    ASSERT_TRUE(device.bound());
    testing::store_locker locker(store);
    ASSERT_TRUE(locker.locked()) << "the other program did not get its lock";
    lan_announce_flag() = true;
    services->net().threads.start("lan announce", lan_announce_loop);
    // The announce names this device, which the locked store cannot tell.
    EXPECT_EQ(device.receive(3s), std::nullopt);

    ASSERT_TRUE(locker.release());
    const auto sent = device.receive(60s);
    ASSERT_TRUE(sent);
    EXPECT_EQ(*sent, make_datagram());
}

TEST_F(LanAnnounce, QueuedDatagramsGoToTheAnnouncePortOfTheirAddressOnly) {
    udp_device target("127.0.0.2", port);
    queue_udp_datagram("[::1]", "to another family");
    queue_udp_datagram("", "to nobody");
    queue_udp_datagram("127.0.0.2", "hello");
    EXPECT_EQ(target.receive(), "hello");

    stop_udp_announce_service();
    queue_udp_datagram("127.0.0.2", "after the stop");
    EXPECT_EQ(target.receive(300ms), std::nullopt);
}

TEST(AnnounceDatagrams, ASourceOnNoneOfThisDevicesNetworksIsDropped) {
    testing::temp_store store;
    testing::temp_services services{testing::loopback_config()};
    testing::network_doubles doubles = testing::install_network_doubles();
    doubles.platform->set_local_networks({"192.168.5.10/24", "2001:db8:1:2::10/64"});
    const struct {
        const char* from;
        bool taken;
    } cases[] = {
        {"192.168.5.77", true}, {"::ffff:192.168.5.77", true}, {"[2001:db8:1:2::77]", true},
        {"127.0.0.2", true},    {"[fe80::1%2]", true},         {"192.168.6.77", false},
        {"10.0.0.5", false},    {"[2001:db8:1:3::77]", false}, {"203.0.113.9", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        // Held at that address already, so that a taken announce starts no proof.
        const std::string id = std::string("peer-") + (c.taken ? "near" : "far");
        set_peer_ip(id, normalize_peer_address(c.from));
        EXPECT_EQ(handle_announce(id + "|linux/box|Owl", c.from), c.taken);
    }
    ASSERT_TRUE(handling_settled());
    EXPECT_FALSE(db_get_device("peer-near").is_null());
    EXPECT_TRUE(db_get_device("peer-far").is_null()) << "nothing of a foreign source is stored";
}

}  // namespace
}  // namespace vandrel
