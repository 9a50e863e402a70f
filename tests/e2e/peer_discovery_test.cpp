// How devices find each other on a real network: by their announces, through the cloud
// service when announces do not get through, and again when the network changes.
#include <gtest/gtest.h>

#include <signal.h>

#include <thread>

#include "core_lib/foundation/clock_random.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"

using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

class PeerDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        const std::string why = TestNetwork::unavailable_reason();
        if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
    }
    std::unique_ptr<TestNetwork> net_;
};

TEST_F(PeerDiscovery, ThreeDevicesStartedAtOnceMeetWithNoHelp) {
    net_ = std::make_unique<TestNetwork>(3);
    std::vector<std::unique_ptr<MeskSession>> meskes;
    for (int i = 0; i < 3; ++i)
        meskes.push_back(std::make_unique<MeskSession>(net_->start(net_->device(i), {MESK_BINARY})));
    for (auto& mesk : meskes) ASSERT_TRUE(mesk->started());
    const auto deadline = clock_type::now() + 5s;

    std::vector<std::string> ids;
    for (auto& mesk : meskes) ids.push_back(mesk->id());
    for (int i = 0; i < 3; ++i) {
        std::map<std::string, std::string> others;
        for (int j = 0; j < 3; ++j) {
            if (j != i) others[ids[j]] = net_->device(j).address;
        }
        EXPECT_TRUE(meskes[i]->lists(others, deadline)) << "device " << i << " did not list the other two in 5 s";
    }
    for (auto& mesk : meskes) EXPECT_TRUE(mesk->quit());
}

class CloudDiscovery : public PeerDiscovery {
protected:
    void SetUp() override {
        PeerDiscovery::SetUp();
        if (IsSkipped()) return;
        const std::string why = TestNetwork::filter_unavailable_reason();
        if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
    }
};

TEST_F(CloudDiscovery, DevicesWhoseAnnouncesAreDroppedMeetThroughTheCloudInOnePass) {
    net_ = std::make_unique<TestNetwork>(3);
    const auto& a = net_->device(0);
    const auto& b = net_->device(1);
    const auto& cloud = net_->device(2);
    net_->block_announces();
    net_->point_cloud_at(cloud.address);
    auto standin = start_cloud_standin(*net_, cloud);
    ASSERT_TRUE(standin);

    auto mesk_a = start_mesk_session(*net_, a);
    ASSERT_TRUE(mesk_a);
    const std::string a_id = mesk_a->id();
    ASSERT_TRUE(standin->take_prefixed("discovery " + a_id + " ", 15s)) << "A did not ask the cloud";

    auto mesk_b = start_mesk_session(*net_, b);
    ASSERT_TRUE(mesk_b);
    const std::string b_id = mesk_b->id();
    // B's first pass is answered with A: that one pass must be enough.
    auto listed = standin->take_prefixed("discovery " + b_id + " listed 1", 15s);
    ASSERT_TRUE(listed) << "the cloud did not list A to B";
    const auto deadline = clock_type::now() + 5s;
    EXPECT_TRUE(mesk_b->lists({{a_id, a.address}}, deadline)) << "B did not prove A from the cloud's answer";
    EXPECT_TRUE(mesk_a->lists({{b_id, b.address}}, deadline)) << "A did not prove B when B pinged it";
    EXPECT_GT(net_->blocked_announces(), 0u) << "no announce was dropped: the test proves nothing";
    EXPECT_TRUE(mesk_a->quit());
    EXPECT_TRUE(mesk_b->quit());
}

TEST_F(CloudDiscovery, ANewAddressResetsPeersAndRunsEachDiscoveryAgain) {
    net_ = std::make_unique<TestNetwork>(3);
    const auto& a = net_->device(0);
    const auto& watcher = net_->device(1);
    const auto& cloud = net_->device(2);
    net_->point_cloud_at(cloud.address);
    auto standin = start_cloud_standin(*net_, cloud);
    ASSERT_TRUE(standin);
    OutputReader watch(net_->start(watcher, {MESK_PORT_WATCH_BINARY}));
    ASSERT_TRUE(watch.take_prefixed("watching", 10s));
    {
        // A stored peer at the watcher's address: every refresh pass pings it there.
        auto db = open_app_db(a.data_folder());
        SQLite::Statement insert(
            *db, "insert into devices (id, alias, sysinfo, last_ip, date_updated) values (?, ?, ?, ?, ?)");
        insert.bind(1, std::string(64, 'e'));
        insert.bind(2, "Watched");
        insert.bind(3, "linux/watched");
        insert.bind(4, watcher.address);
        insert.bind(5, static_cast<std::int64_t>(vandrel::now_ms()));
        insert.exec();
    }
    auto mesk_a = start_mesk_session(*net_, a);
    ASSERT_TRUE(mesk_a);
    const std::string from_a = " " + a.address;
    ASSERT_TRUE(watch.take_line([&](const std::string& l) { return l == "tcp" + from_a; }, 15s)) << "no first refresh";
    ASSERT_TRUE(standin->take_prefixed("discovery " + mesk_a->id() + " ", 15s)) << "no first discovery";

    // Let the start's burst end: then any later announce belongs to a new one.
    const auto settle_deadline = clock_type::now() + 60s;
    while (watch.take_line([&](const std::string& l) { return l == "udp" + from_a; }, 4s)) {
        ASSERT_LT(clock_type::now(), settle_deadline) << "the announces never stopped";
    }
    // Whatever else the start did, the passes below must come after the change.
    auto any = [](const std::string&) { return true; };
    while (watch.take_line(any, 300ms)) {}
    while (standin->take_line(any, 300ms)) {}
    while (!mesk_a->event("peers_updated", 300ms).is_null()) {}

    const std::string second_network = "10.232." + net_->subnet().substr(net_->subnet().rfind('.') + 1);
    const std::string new_address = second_network + ".1";
    const auto changed = clock_type::now();
    net_->add_address(a, new_address + "/24");

    EXPECT_FALSE(mesk_a->event("peers_updated", 5s).is_null()) << "no peers_updated within 5 s of the change";
    const auto seen = clock_type::now();
    auto ms_since = [&](clock_type::time_point from) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(clock_type::now() - from).count();
    };
    // Each loop looks at its flag every 5 s; a second more for the slack of the output.
    const auto flag_look = 6s;
    auto left = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(seen + flag_look - clock_type::now());
    };
    EXPECT_TRUE(watch.take_line([&](const std::string& l) { return l == "udp" + from_a; }, left()))
        << "no new announce burst";
    std::cerr << "announce " << ms_since(changed) << " ms after the change\n";
    EXPECT_TRUE(watch.take_line([&](const std::string& l) { return l == "tcp" + from_a; }, left()))
        << "no new refresh pass";
    std::cerr << "refresh " << ms_since(changed) << " ms after the change\n";
    auto discovery = standin->take_prefixed("discovery " + mesk_a->id() + " ", left());
    ASSERT_TRUE(discovery) << "no new discovery pass";
    std::cerr << "discovery " << ms_since(changed) << " ms after the change\n";
    EXPECT_NE(discovery->find(new_address), std::string::npos)
        << "the pass did not post the new address: " << *discovery;
    EXPECT_TRUE(mesk_a->quit());
}

}  // namespace
