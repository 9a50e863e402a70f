// Hosts that make up device ids, hold their answers or refuse chats for good, against a
// victim and an honest peer that has chatted with it. Real processes in namespaces; the
// state read back through the interface, /proc and the store.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/foundation/peer_limits.h"
#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"
#include "tests/support/stub_peer.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

Json type_chat(MeskSession& from, const std::string& to, const std::string& id, const std::string& text) {
    return from.request(
        "/create_chat",
        Json(Json::object{{"id", id}, {"sender", from.id()}, {"receiver", to}, {"type", "text"}, {"data", text}})
            .dump());
}

auto chat_id_is(const std::string& id) {
    return [id](const Json& e) { return e["info"]["id"].string_value() == id; };
}

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ",") + item;
    return text;
}

long long file_bytes(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 ? static_cast<long long>(info.st_size) : 0;
}

// The victim (device 0), an honest peer (device 1) that has chatted with it, and the
// hostile host (device 2).
class HostileIdentities : public NetworkFixture<3> {
protected:
    void SetUp() override {
        NetworkFixture<3>::SetUp();
        if (IsSkipped()) return;
        victim = start_mesk_session(*net_, net_->device(0));
        honest = start_mesk_session(*net_, net_->device(1));
        ASSERT_TRUE(victim && honest);
        ASSERT_TRUE(victim->lists({{honest->id(), net_->device(1).address}}, clock_type::now() + 15s));
        ASSERT_TRUE(honest->lists({{victim->id(), net_->device(0).address}}, clock_type::now() + 15s));
        ASSERT_EQ(type_chat(*victim, honest->id(), "hello-first", "hi")["status"].string_value(), "success");
        ASSERT_FALSE(honest->event("new_chat", 10s, chat_id_is("hello-first")).is_null());
    }

    // The hostile host, announcing from the sources, once it listens.
    std::unique_ptr<OutputReader> start_host(const std::vector<std::string>& sources, const std::string& mode,
                                             const std::string& prefix, long rounds, long avatar_bytes = 100) {
        const TestDevice& host = net_->device(2);
        auto program = std::make_unique<OutputReader>(net_->start(
            host, {MESK_IDENTITY_HOST_BINARY, "--folder", host.root + "/host", "--target", net_->device(0).address,
                   "--sources", joined(sources), "--mode", mode, "--prefix", prefix, "--rounds", std::to_string(rounds),
                   "--avatar-bytes", std::to_string(avatar_bytes)}));
        EXPECT_TRUE(program->take_prefixed("serving", 20s)) << "the host did not listen";
        return program;
    }

    // The ids the victim lists at an address, made up by the host under the prefix.
    std::vector<std::string> listed_with_prefix(const std::string& prefix) {
        std::vector<std::string> ids;
        for (const auto& [id, ip] : victim->peers()) {
            if (id.rfind(prefix, 0) == 0 && !ip.empty()) ids.push_back(id);
        }
        return ids;
    }

    // A chat each way between the victim and the honest peer arrives within the limit.
    void chats_get_through(const std::string& tag, std::chrono::milliseconds limit) {
        const auto typed = clock_type::now();
        ASSERT_EQ(type_chat(*victim, honest->id(), "to-honest-" + tag, "ping " + tag)["status"].string_value(),
                  "success");
        EXPECT_FALSE(honest->event("new_chat", limit, chat_id_is("to-honest-" + tag)).is_null())
            << "the honest peer did not get the victim's chat (" << tag << ")";
        ASSERT_EQ(type_chat(*honest, victim->id(), "to-victim-" + tag, "pong " + tag)["status"].string_value(),
                  "success");
        EXPECT_FALSE(victim->event("new_chat", limit, chat_id_is("to-victim-" + tag)).is_null())
            << "the victim did not get the honest peer's chat (" << tag << ")";
        std::cerr << "chats " << tag << " both ways in "
                  << std::chrono::duration<double>(clock_type::now() - typed).count() << " s\n";
    }

    std::unique_ptr<MeskSession> victim;
    std::unique_ptr<MeskSession> honest;
};

TEST_F(HostileIdentities, ManyNewIdsWithBigAvatarsTakeNothingFromTheHonestPeer) {
    const TestDevice& host = net_->device(2);
    std::vector<std::string> sources = net_->add_many_addresses(host, 150, 0);
    sources.push_back(host.address);
    const std::string data = net_->device(0).data_folder();
    auto attack = start_host(sources, "fresh", "made", 0, static_cast<long>(vandrel::limits::avatar_bytes) - 100);

    long most_rss_kb = 0;
    const auto started = clock_type::now();
    bool chatted = false;
    while (clock_type::now() - started < 30s) {
        most_rss_kb = std::max(most_rss_kb, process_status_value(victim->pid(), "VmRSS"));
        if (!chatted && clock_type::now() - started > 10s) {
            chats_get_through("during", 10s);
            chatted = true;
        }
        std::this_thread::sleep_for(200ms);
    }
    // The device list is answered whole and promptly while the host goes on.
    const auto asked = clock_type::now();
    const Json listed = victim->request("/get_recently_changed_devices", R"({"last_pull_devices": "0"})");
    ASSERT_FALSE(listed.is_null()) << "the device list was not answered";
    std::cerr << "device list of " << listed["devices"].array_items().size() << " in "
              << std::chrono::duration<double>(clock_type::now() - asked).count() << " s\n";
    EXPECT_LE(listed["devices"].array_items().size(), vandrel::limits::stored_devices);
    const std::map<std::string, std::string> peers = victim->peers();
    ASSERT_TRUE(peers.count(honest->id()));
    EXPECT_EQ(peers.at(honest->id()), net_->device(1).address) << "the honest peer was pushed out";

    attack->process().close_input();
    ASSERT_TRUE(attack->take_prefixed("announced ", 20s));
    chats_get_through("after", 10s);
    most_rss_kb = std::max(most_rss_kb, process_status_value(victim->pid(), "VmRSS"));
    const long long db_bytes = file_bytes(data + "app.db") + file_bytes(data + "app.db-wal");
    std::cerr << "victim rss at most " << most_rss_kb << " kB, database " << db_bytes << " bytes\n";
    EXPECT_LT(most_rss_kb, 200 * 1024);
    EXPECT_LT(db_bytes, 20LL * 1024 * 1024);

    const auto quitting = clock_type::now();
    EXPECT_TRUE(victim->quit()) << ":quit was not answered";
    std::cerr << ":quit in " << std::chrono::duration<double>(clock_type::now() - quitting).count() << " s\n";
    EXPECT_TRUE(honest->quit());

    auto db = open_app_db(data);
    SQLite::Statement made(*db, "select count(*) from devices where id like 'made%'");
    ASSERT_TRUE(made.executeStep());
    const long long made_ids = made.getColumn(0).getInt64();
    EXPECT_LE(made_ids, static_cast<long long>(sources.size() * vandrel::limits::new_ids_per_address));
    SQLite::Statement avatars(*db, "select coalesce(sum(length(avatar)), 0) from devices");
    ASSERT_TRUE(avatars.executeStep());
    EXPECT_LE(avatars.getColumn(0).getInt64(), static_cast<long long>(vandrel::limits::avatar_total_bytes));
    std::cerr << made_ids << " made-up ids stored\n";
}

TEST_F(HostileIdentities, PeersThatHoldTheirAnswersDelayNoChatToTheHonestPeer) {
    const TestDevice& host = net_->device(2);
    const std::vector<std::string> sources = net_->add_many_addresses(host, 12, 0);
    // Ids that sort before any other, so that a loop serving peers one by one meets them first.
    auto slow = start_host(sources, "slow", "0000slow", 1);
    ASSERT_TRUE(wait_until([&] { return listed_with_prefix("0000slow").size() >= 10; }, 30s))
        << "the victim proved too few of the host's ids";
    const std::vector<std::string> slow_ids = listed_with_prefix("0000slow");
    for (std::size_t i = 0; i < 10; ++i) {
        ASSERT_EQ(type_chat(*victim, slow_ids[i], "to-slow-" + std::to_string(i), "hello")["status"].string_value(),
                  "success");
    }
    ASSERT_TRUE(slow->take_line([](const std::string& line) { return line.rfind("chat to-slow-", 0) == 0; }, 20s))
        << "the victim sent nothing to the slow peers";
    chats_get_through("beside-slow-peers", 8s);
    slow->process().close_input();
    EXPECT_TRUE(victim->quit());
    EXPECT_TRUE(honest->quit());
}

TEST_F(HostileIdentities, ChatsAPeerRefusesForGoodAreMarkedFailedAndHoldNoLaterChat) {
    const TestDevice& host = net_->device(2);
    auto refuser = start_host({host.address}, "refuse", "refuser", 1);
    ASSERT_TRUE(wait_until([&] { return !listed_with_prefix("refuser").empty(); }, 30s));
    const std::string peer = listed_with_prefix("refuser").front();
    std::vector<std::string> refused;
    for (int i = 0; i < 10; ++i) {
        refused.push_back("refused-" + std::to_string(i));
        ASSERT_EQ(type_chat(*victim, peer, refused.back(), "long " + std::to_string(i))["status"].string_value(),
                  "success");
    }
    ASSERT_EQ(type_chat(*victim, peer, "after-refused", "short")["status"].string_value(), "success");

    EXPECT_FALSE(
        victim->event("mark_chat_as_sent", 30s, [](const Json& e) { return e["id"].string_value() == "after-refused"; })
            .is_null())
        << "the chat typed after the refused ones never went out";
    std::vector<std::string> failed;
    for (const Json& e : victim->events_within("chat_failed", 2s)) {
        EXPECT_EQ(e["device_id"].string_value(), peer);
        EXPECT_EQ(e["error_code"].string_value(), "too_long");
        failed.push_back(e["chat_id"].string_value());
    }
    std::sort(failed.begin(), failed.end());
    std::sort(refused.begin(), refused.end());
    EXPECT_EQ(failed, refused);

    // A later wake-up offers none of them again: each reached the host once.
    ASSERT_EQ(type_chat(*victim, peer, "later", "short")["status"].string_value(), "success");
    EXPECT_TRUE(refuser->take_line([](const std::string& line) { return line == "chat later short"; }, 20s));
    std::this_thread::sleep_for(2s);
    std::size_t offered = 0;
    while (refuser->take_prefixed("chat refused-", 200ms)) ++offered;
    EXPECT_EQ(offered, refused.size());
    refuser->process().close_input();
    EXPECT_TRUE(victim->quit());
    EXPECT_TRUE(honest->quit());
}

}  // namespace
