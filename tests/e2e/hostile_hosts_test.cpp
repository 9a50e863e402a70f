// Hosts on the network that lie: a forger flooding announces from many sources, and an
// impostor claiming a peer's id. Real processes; the state read back through the
// interface, /proc and the store.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <sstream>
#include <thread>

#include "core_lib/net/discovery/lan_announce.h"
#include "core_lib/net/peers/public_key.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"
#include "tests/support/stub_peer.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

class HostileHosts : public NetworkFixture<3> {
protected:
    // The number after "NAME " among the lines the program printed.
    static double printed_value(OutputReader& program, const std::string& name) {
        auto line = program.take_prefixed(name + " ", 0ms);
        EXPECT_TRUE(line) << "no " << name;
        return line ? std::stod(line->substr(name.size() + 1)) : -1;
    }
};

struct process_sample {
    long threads = 0;
    long rss_kb = 0;
};

process_sample sample(int pid) { return {process_status_value(pid, "Threads"), process_status_value(pid, "VmRSS")}; }

TEST_F(HostileHosts, AFloodOfForgedAnnouncesLeavesTheDeviceFlatItsRepliesCappedAndARealPeerFound) {
    const auto& a = net_->device(0);
    const auto& b = net_->device(1);
    const auto& forger = net_->device(2);
    // Forged sources on a network of A's own, so that A takes them for neighbours.
    net_->add_address(a, "172.29.255.254/16");
    std::string sources;
    for (int i = 100; i < 150; ++i) {
        const std::string address = net_->subnet() + "." + std::to_string(i);
        net_->add_address(forger, address + "/24");
        sources += (sources.empty() ? "" : ",") + address;
    }
    auto mesk_a = start_mesk_session(*net_, a);
    ASSERT_TRUE(mesk_a);
    const std::string a_id = mesk_a->id();
    auto flood = [&](long count, long rate, int linger) {
        return std::make_unique<OutputReader>(
            net_->start(forger, {MESK_ANNOUNCE_FLOOD_BINARY, "--target", a.address, "--own-id", a_id, "--count",
                                 std::to_string(count), "--sources", sources, "--spoof-net", "172.29", "--rate",
                                 std::to_string(rate), "--linger", std::to_string(linger)}));
    };

    // A small flood first: whatever the first datagrams start is there before the count.
    auto warm_up = flood(2000, 2000, 1);
    ASSERT_TRUE(warm_up->take_prefixed("seconds ", 30s)) << "the warm-up flood did not end";
    std::this_thread::sleep_for(1s);
    const process_sample before = sample(mesk_a->pid());
    ASSERT_GT(before.threads, 0) << "cannot read /proc of mesk";

    auto forged = flood(100000, 20000, 2);
    const auto flood_start = clock_type::now();
    process_sample most = before;
    std::unique_ptr<MeskSession> mesk_b;
    clock_type::time_point b_started;
    for (;;) {
        const bool ended = forged->take_prefixed("seconds ", 100ms).has_value();
        const process_sample now = sample(mesk_a->pid());
        most.threads = std::max(most.threads, now.threads);
        most.rss_kb = std::max(most.rss_kb, now.rss_kb);
        // A real peer arrives in the middle of it.
        if (!mesk_b && clock_type::now() - flood_start > 1s) {
            mesk_b = std::make_unique<MeskSession>(net_->start(b, {MESK_BINARY}));
            b_started = clock_type::now();
        }
        if (ended) break;
        ASSERT_LT(clock_type::now() - flood_start, 120s) << "the flood did not end";
    }
    ASSERT_TRUE(mesk_b);
    // The summary lines before "seconds" wait among the lines read.
    EXPECT_EQ(printed_value(*forged, "sent"), 100000);
    const double replies = printed_value(*forged, "replies");
    const double most_to_one = printed_value(*forged, "most_to_one");
    const double seconds = std::chrono::duration<double>(clock_type::now() - flood_start).count();
    std::cerr << "threads " << before.threads << " -> at most " << most.threads << ", rss " << before.rss_kb
              << " kB -> at most " << most.rss_kb << " kB, replies " << replies << " (at most " << most_to_one
              << " to one address) in " << seconds << " s\n";

    // A call to the cloud (the events upload, every few seconds) looks its name up on a
    // thread of its own for a moment; the flood may start none that stays.
    EXPECT_LE(most.threads, before.threads + 1) << "the flood started threads";
    EXPECT_TRUE(wait_until([&] { return sample(mesk_a->pid()).threads <= before.threads; }, 10s))
        << "threads started by the flood stayed";
#ifndef MESK_SANITIZED
    // A sanitizer's quarantine holds freed memory back: resident memory says nothing then.
    EXPECT_LT(most.rss_kb - before.rss_kb, 8 * 1024) << "the flood grew resident memory";
#endif
    EXPECT_GT(replies, 0) << "A answered none of its neighbours: the count proves nothing";
    EXPECT_LE(replies, vandrel::announce_replies_per_second * (seconds + 1)) << "A answered faster than its rate";
    EXPECT_LE(most_to_one, seconds / vandrel::announce_reply_seconds + 1) << "A answered one address too often";

    ASSERT_TRUE(mesk_b->started());
    const auto deadline = b_started + 15s;
    EXPECT_TRUE(mesk_a->lists({{mesk_b->id(), b.address}}, deadline)) << "A did not find B under the flood";
    EXPECT_TRUE(mesk_b->lists({{a_id, a.address}}, deadline)) << "B did not find A under the flood";
    EXPECT_TRUE(mesk_a->quit());
    EXPECT_TRUE(mesk_b->quit());
}

TEST_F(HostileHosts, AnImpostorOfAPeerGetsNoChatInNeitherWayAndLeavesItsKeyAlone) {
    const auto& a = net_->device(0);
    const auto& b = net_->device(1);
    const auto& impostor_device = net_->device(2);
    auto mesk_a = start_mesk_session(*net_, a);
    auto mesk_b = start_mesk_session(*net_, b);
    ASSERT_TRUE(mesk_a && mesk_b);
    const std::string a_id = mesk_a->id();
    const std::string b_id = mesk_b->id();
    ASSERT_TRUE(mesk_a->lists({{b_id, b.address}}, clock_type::now() + 10s)) << "A never met B";
    const std::string b_key = vandrel::certificate_key_sha256(b.data_folder() + "vandrel.pem");
    ASSERT_EQ(b_key.size(), 64u);

    OutputReader impostor(
        net_->start(impostor_device, {MESK_IMPOSTOR_BINARY, "--folder", impostor_device.root + "/impostor", "--claim",
                                      b_id, "--target", a.address, "--receiver", a_id}));
    ASSERT_TRUE(impostor.take_prefixed("serving", 30s));
    // Each of its chats as B is refused; the count shows it kept trying.
    int refused = 0;
    auto next_refusal = [&](std::chrono::milliseconds limit = 15s) {
        auto line = impostor.take_prefixed("chat_answer ", limit);
        if (!line) return false;
        const Json answer = parse_json(line->substr(12));
        EXPECT_EQ(answer["status"].string_value(), "error") << "A took a chat from the impostor: " << *line;
        refused += answer["error_code"].string_value() == "forbidden" ? 1 : 0;
        return true;
    };
    // Let it claim for a while: announces, pings and chats as B.
    for (int i = 0; i < 4; ++i) ASSERT_TRUE(next_refusal()) << "the impostor is stuck";

    // A's chats for B go to B, while the impostor keeps claiming.
    for (int i = 0; i < 5; ++i) {
        const std::string id = "for-b-" + std::to_string(i);
        const Json chat(
            Json::object{{"id", id}, {"sender", a_id}, {"receiver", b_id}, {"type", "text"}, {"data", "hi"}});
        EXPECT_EQ(mesk_a->request("/create_chat", chat.dump())["status"].string_value(), "success");
        EXPECT_FALSE(mesk_b->event("new_chat", 10s, [&](const Json& e) { return e["info"]["id"].string_value() == id; })
                         .is_null())
            << id << " did not reach B";
        EXPECT_FALSE(
            mesk_a->event("mark_chat_as_sent", 10s, [&](const Json& e) { return e["id"].string_value() == id; })
                .is_null())
            << id << " not marked sent";
        ASSERT_TRUE(next_refusal()) << "the impostor is stuck";
    }
    impostor.process().close_input();
    EXPECT_TRUE(impostor.process().wait_exit(30s));
    while (next_refusal(2s)) {}
    EXPECT_GT(refused, 0) << "no chat of the impostor was refused as forbidden";

    // No chat of A's went to the impostor, and none of its chats reached A's interface.
    while (auto line = impostor.take_prefixed("chat ", 2s)) ADD_FAILURE() << "A sent a chat to the impostor: " << *line;
    auto from_impostor = [](const Json& e) { return e["info"]["id"].string_value().rfind("impostor-", 0) == 0; };
    EXPECT_TRUE(mesk_a->event("new_chat", 1s, from_impostor).is_null()) << "A's interface got a chat from the impostor";
    EXPECT_TRUE(impostor.take_prefixed("pinged", 2s)) << "A never called the impostor: its claims were not tried";
    EXPECT_LE(mesk_a->events_within("peer_key_changed", 1s).size(), 1u) << "warned more than once";
    EXPECT_TRUE(mesk_a->lists({{b_id, b.address}}, clock_type::now() + 5s)) << "A lost B's address";

    ASSERT_TRUE(mesk_a->quit());
    auto db = open_app_db(a.data_folder());
    SQLite::Statement key(*db, "select key_sha256 from devices where id = ?");
    key.bind(1, b_id);
    ASSERT_TRUE(key.executeStep());
    EXPECT_EQ(key.getColumn(0).getString(), b_key) << "A's pinned key for B changed";
    EXPECT_TRUE(mesk_b->quit());
}

}  // namespace
