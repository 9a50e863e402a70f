#include "core_lib/net/delivery/notification_mirror.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/foundation/json.h"
#include "core_lib/net/delivery/mirror_queue.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/settings.h"
#include "tests/support/stub_peer.h"
#include "tests/support/temp_services.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::stub_peer;
using testing::wait_until;

const std::string mirror = "/api/v1/mirror_notification";

// A TCP port that takes connections into its backlog and never says a word: a peer
// that hangs.
class silent_listener {
public:
    silent_listener(const std::string& address, std::uint16_t port) : fd_(::socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        listening_ =
            fd_ >= 0 && ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0 && ::listen(fd_, 8) == 0;
    }
    ~silent_listener() {
        if (fd_ >= 0) ::close(fd_);
    }
    silent_listener(const silent_listener&) = delete;
    silent_listener& operator=(const silent_listener&) = delete;
    bool listening() const { return listening_; }
    // True once a connection waits in the backlog.
    bool called(std::chrono::milliseconds within) const {
        pollfd ready{fd_, POLLIN, 0};
        return ::poll(&ready, 1, static_cast<int>(within.count())) > 0;
    }

private:
    int fd_;
    bool listening_ = false;
};

Json notification(const std::string& title = "Build \"done\"\n") {
    return Json::object{{"title", title},
                        {"description", "caf\xc3\xa9 \xe2\x9c\x93 <b>|</b>"},
                        {"device_id", get_userid()},
                        {"device_alias", get_alias()}};
}

// peer-a (notifications on, but its answer is cut off), peer-b (on) and peer-c (off).
class NotificationMirror : public ::testing::Test {
protected:
    void SetUp() override {
        stubs = testing::start_stub_peers(
            {{"127.0.0.2", "peer-a", ""}, {"127.0.0.3", "peer-b", ""}, {"127.0.0.4", "peer-c", ""}});
        ASSERT_EQ(stubs.size(), 3u);
        services = std::make_unique<testing::temp_services>(testing::loopback_config(stubs[0]->port()));
        for (const auto& stub : stubs) {
            db_upsert_device(stub->id(), "stub/os", "Stub", stub->address());
            set_peer_ip(stub->id(), stub->address());
        }
        db_set_device_send_notifications(1, "peer-a");
        db_set_device_send_notifications(1, "peer-b");
        stubs[0]->answer_with(mirror, [](const http_request&) { return testing::cut_answer(); });
    }
    void TearDown() override { services.reset(); }

    testing::temp_store store;
    std::vector<std::unique_ptr<stub_peer>> stubs;
    std::unique_ptr<testing::temp_services> services;
};

TEST_F(NotificationMirror, ANotificationGoesUnchangedToThePeersThatAskedForIt) {
    const Json sent = notification();
    mirror_to_peers(sent);
    EXPECT_EQ(stubs[0]->count(mirror), 1u) << "asked, and its silence skipped";
    ASSERT_EQ(stubs[1]->count(mirror), 1u);
    EXPECT_EQ(stubs[1]->received(mirror)[0].body, sent.dump());
    EXPECT_EQ(stubs[2]->count(mirror), 0u);
}

TEST_F(NotificationMirror, TheLoopMirrorsWhatIsQueuedAndEndsPromptlyWhenTheCoreStops) {
    services->net().threads.start("notification mirror", mirror_notification_loop);
    const Json first = notification();
    mirror_queue().enqueue(first);
    ASSERT_TRUE(wait_until([&] { return stubs[1]->count(mirror) == 1; }));
    EXPECT_EQ(stubs[1]->received(mirror)[0].body, first.dump());

    // A peer that hangs holds the loop in a call, which the stop must end.
    silent_listener hanging("127.0.0.5", stubs[0]->port());
    ASSERT_TRUE(hanging.listening());
    db_upsert_device("peer-0", "stub/os", "Hangs", "127.0.0.5");
    db_set_device_send_notifications(1, "peer-0");
    set_peer_ip("peer-0", "127.0.0.5");  // first in id order
    mirror_queue().enqueue(notification());
    ASSERT_TRUE(hanging.called(10s));

    auto stopped = std::async(std::launch::async, [this] { services->net().stop(); });
    EXPECT_EQ(stopped.wait_for(10s), std::future_status::ready) << "a call to a peer may last 30 s";
    stopped.wait();
    EXPECT_EQ(stubs[1]->count(mirror), 1u);
}

TEST_F(NotificationMirror, AStoreFailureLosesOneNotificationAndNotTheLoop) {
    services->net().threads.start("notification mirror", mirror_notification_loop);
    store.exec("alter table devices rename to devices_away");
    mirror_queue().enqueue(notification());
    ASSERT_TRUE(wait_until([] { return mirror_queue().size_approx() == 0; }));
    std::this_thread::sleep_for(300ms);  // its pass asks the store at once and fails
    store.exec("alter table devices_away rename to devices");

    const Json second = notification("second");
    mirror_queue().enqueue(second);
    ASSERT_TRUE(wait_until([&] {
        const auto got = stubs[1]->received(mirror);
        return !got.empty() && got.back().body == second.dump();
    }));
}

}  // namespace
}  // namespace vandrel
