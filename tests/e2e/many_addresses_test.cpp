// A host holding 150 IPv4 and 2,000 IPv6 addresses on one interface attacks a device's
// peer server, while an honest peer the device knows (it proved its key and exchanged
// chats) keeps pinging it and sends chats and a 1 MB file both ways, during the attack
// and after it. Real processes; the attacker is mesk_swarm.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <thread>
#include <vector>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"
#include "tests/e2e/transfer_harness.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

struct attack {
    const char* name;
    const char* mode;  // mesk_swarm's
    int ipv4_sources;
    int ipv6_sources;  // of the 2,000, through the victim's link-local address
    int per_source;
};

const attack attacks[] = {
    {"IdleTls", "idle-tls", 150, 40, 4},
    {"SilentTcp", "silent-tcp", 150, 40, 4},
    {"SlowHeaders", "slow-header", 150, 40, 4},
    {"SlowBodies", "slow-body", 150, 40, 4},
    {"TwoAddressesHoldBodies", "slow-body", 2, 0, 16},
    {"FreshIdsWithMuteServers", "fresh-chats", 148, 0, 1},
};

constexpr int attack_seconds = 40;

// The largest resident memory of a process, sampled until stopped.
class rss_watch {
public:
    explicit rss_watch(int pid)
        : thread_([this, pid] {
              while (!stop_) {
                  most_ = std::max(most_.load(), process_status_value(pid, "VmRSS"));
                  std::this_thread::sleep_for(200ms);
              }
          }) {}
    ~rss_watch() { finish(); }
    long finish() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        return most_;
    }

private:
    std::atomic<bool> stop_{false};
    std::atomic<long> most_{0};
    std::thread thread_;
};

class ManyAddresses : public NetworkFixture<3>, public ::testing::WithParamInterface<attack> {
protected:
    bool chat(MeskSession& from, MeskSession& to, const std::string& id) {
        const Json sent(
            Json::object{{"id", id}, {"sender", from.id()}, {"receiver", to.id()}, {"type", "text"}, {"data", "hi"}});
        if (from.request("/create_chat", sent.dump())["status"].string_value() != "success") return false;
        return !to.event("new_chat", 60s, [&](const Json& e) {
                      return e["info"]["id"].string_value() == id;
                  }).is_null();
    }
    bool file(MeskSession& from, const TestDevice& from_device, MeskSession& to, const std::string& name) {
        const std::string path = pictures_folder(from_device) + name;
        write_random_file(path, std::uint64_t{1000} * 1000, std::hash<std::string>{}(name));
        const auto offered = offer_files(from, to.id(), {path});
        if (!offered || offered->file_ids.size() != 1) return false;
        return !to.event("download_completed", 90s, file_is(offered->file_ids.begin()->second)).is_null();
    }
    // Chats and a file each way; what failed is named.
    void exchange(MeskSession& victim, const TestDevice& victim_device, MeskSession& honest,
                  const TestDevice& honest_device, const std::string& when) {
        EXPECT_TRUE(chat(honest, victim, "to-victim-" + when)) << "the honest peer's chat was lost " << when;
        EXPECT_TRUE(chat(victim, honest, "to-honest-" + when)) << "the victim's chat was lost " << when;
        EXPECT_TRUE(file(honest, honest_device, victim, "to-victim-" + when + ".bin"))
            << "the honest peer's file did not arrive " << when;
        EXPECT_TRUE(file(victim, victim_device, honest, "to-honest-" + when + ".bin"))
            << "the victim's file did not arrive " << when;
    }
};

TEST_P(ManyAddresses, TheHonestPeerKeepsEverythingItEarned) {
    const attack& row = GetParam();
    const auto& victim_device = net_->device(0);
    const auto& honest_device = net_->device(1);
    const auto& attacker = net_->device(2);
    auto victim = start_mesk_session(*net_, victim_device);
    auto honest = start_mesk_session(*net_, honest_device);
    ASSERT_TRUE(victim && honest);
    ASSERT_TRUE(victim->lists({{honest->id(), honest_device.address}}, clock_type::now() + 30s));
    ASSERT_TRUE(honest->lists({{victim->id(), victim_device.address}}, clock_type::now() + 30s));
    ASSERT_TRUE(chat(*honest, *victim, "before-1") && chat(*victim, *honest, "before-2")) << "no chats before";

    const std::vector<std::string> addresses = net_->add_many_addresses(attacker, 150, 2000);
    std::string v4, v6;
    int v4_count = 0, v6_count = 0;
    for (const std::string& address : addresses) {
        const bool is_v6 = address.front() == '[';
        if (is_v6 && v6_count++ < row.ipv6_sources)
            v6 += (v6.empty() ? "" : ",") + address.substr(1, address.size() - 2);
        if (!is_v6 && v4_count++ < row.ipv4_sources) v4 += (v4.empty() ? "" : ",") + address;
    }
    const std::string link_local = net_->run(victim_device, {"/usr/bin/env", "sh", "-c",
                                                             "ip -6 -o addr show dev eth0 scope link | "
                                                             "sed -e 's/.*inet6 \\([^/]*\\).*/\\1/' | head -n1"});
    const std::string victim_v6 = link_local.substr(0, link_local.find('\n')) + "%eth0";
    ASSERT_GT(victim_v6.size(), 6u) << "the victim has no link-local address";

    rss_watch memory(victim->pid());
    auto swarm = [&](const std::string& target, const std::string& sources) {
        return std::make_unique<OutputReader>(net_->start(
            attacker,
            {MESK_SWARM_BINARY, "--mode", row.mode, "--target", target, "--sources", sources, "--per-source",
             std::to_string(row.per_source), "--seconds", std::to_string(attack_seconds), "--receiver", victim->id()}));
    };
    std::vector<std::unique_ptr<OutputReader>> swarms;
    swarms.push_back(swarm(victim_device.address, v4));
    if (!v6.empty()) swarms.push_back(swarm(victim_v6, v6));
    const auto attack_start = clock_type::now();
    OutputReader pings(
        net_->start(honest_device, {MESK_SWARM_BINARY, "--mode", "ping", "--target", victim_device.address, "--id",
                                    honest->id(), "--seconds", std::to_string(attack_seconds + 15)}));
    std::this_thread::sleep_for(8s);
    exchange(*victim, victim_device, *honest, honest_device, "during");
    long attack_connections = 0;
    for (auto& s : swarms) {
        ASSERT_TRUE(s->take_prefixed("done", 120s)) << "the attack did not end";
        if (auto line = s->take_prefixed("opened ", 0ms)) attack_connections += std::stol(line->substr(7));
    }
    const auto attack_end = clock_type::now();

    // Answered again soon after the attack's end.
    bool answered = false;
    while (!answered && clock_type::now() - attack_end < 5s) {
        std::string code;
        curl_on(*net_, honest_device,
                {"-m", "2", "-X", "POST", "-d", "{}", "https://" + victim_device.address + ":45001/api/v1/ping"},
                &code);
        answered = code == "200";
    }
    EXPECT_TRUE(answered) << "the victim did not answer within 5 s of the attack's end";
    exchange(*victim, victim_device, *honest, honest_device, "after");

    std::vector<double> times;
    int failed = 0;
    ASSERT_TRUE(pings.process().wait_exit(120s));
    while (auto line = pings.take_prefixed("ping", 1s)) {
        if (line->rfind("ping_failed", 0) == 0) {
            ++failed;
        } else {
            times.push_back(std::stod(line->substr(5)));
        }
    }
    std::sort(times.begin(), times.end());
    const double p99 = times.empty() ? -1 : times[std::min(times.size() - 1, times.size() * 99 / 100)];
    const long rss_kb = memory.finish();
    std::cerr << row.name << ": pings " << times.size() << " answered, " << failed << " failed, p99 " << p99
              << " ms, worst " << (times.empty() ? -1 : times.back()) << " ms; attack "
              << std::chrono::duration<double>(attack_end - attack_start).count() << " s, " << attack_connections
              << " connections; victim rss at most " << rss_kb / 1024 << " MB\n";
    EXPECT_EQ(failed, 0) << "honest pings failed";
    EXPECT_GT(times.size(), 20u) << "too few pings to tell";
    EXPECT_GT(attack_connections, 0) << "the attacker never got through: the run proves nothing";
#ifndef MESK_SANITIZED
    EXPECT_LT(rss_kb, 200 * 1024) << "the victim's resident memory grew past 200 MB";
#endif
    ASSERT_TRUE(victim->quit());
    std::uintmax_t db_bytes = 0;
    for (const char* name : {"app.db", "app.db-wal"}) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(victim_device.data_folder() + name, ec);
        if (!ec) db_bytes += size;
    }
    EXPECT_LT(db_bytes, 20u * 1000 * 1000) << "the victim's database grew past 20 MB";
    EXPECT_TRUE(honest->quit());
}

INSTANTIATE_TEST_SUITE_P(Attacks, ManyAddresses, ::testing::ValuesIn(attacks),
                         [](const ::testing::TestParamInfo<attack>& row) { return std::string(row.param.name); });

}  // namespace
