// Eight threads running store operations at once: nothing throws, nothing deadlocks,
// and the pool and the data are whole afterwards.
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <iostream>
#include <mutex>
#include <thread>

#include <gtest/gtest.h>

#include "core_lib/store/analytics_events.h"
#include "core_lib/store/announce_text.h"
#include "core_lib/store/chat_history.h"
#include "core_lib/store/chat_views.h"
#include "core_lib/store/chats.h"
#include "core_lib/store/config.h"
#include "core_lib/store/db_pool.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/events.h"
#include "core_lib/store/progress.h"
#include "core_lib/store/purge.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/shared_pending.h"
#include "core_lib/store/uploads.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using testing::StoreTest;

constexpr int thread_count = 8;
constexpr auto run_time = std::chrono::seconds(3);

struct worker_result {
    long operations = 0;
    long chats_stored = 0;
    std::string failure;
};

// One step of worker `t`; `n` counts its steps.
void step(int t, long n, const std::string& me, worker_result& result) {
    const std::string tag = std::to_string(t) + "-" + std::to_string(n);
    const std::string peer = "peer" + std::to_string(n % 3);
    switch (n % 12) {
        case 0:
            if (db_insert_chat("", "chat-" + tag, n % 2 ? peer : me, n % 2 ? me : peer, "text", "hello " + tag)) {
                ++result.chats_stored;
            }
            db_mark_chat_sent("chat-" + tag);
            break;
        case 1:
            db_upsert_device(peer, "sys", "Alias " + std::to_string(n % 5), "10.0.0." + std::to_string(t));
            db_touch_device(peer);
            db_get_devices_updated_since(0);
            break;
        case 2:
            db_store_upload({Json::object{{"id", "sf-" + tag}, {"filename", "a.png"}, {"filesize", "10"}}}, "",
                            "up-" + tag, me, peer);
            if (db_insert_chat("", "up-" + tag, me, peer, "upload", "")) ++result.chats_stored;
            db_get_chat_json("up-" + tag);
            db_set_upload_status("up-" + tag, n % 4 ? "" : "paused");
            db_complete_file_to_send({Json::object{{"id", "sf-" + tag}}});
            break;
        case 3:
            if (db_store_download({Json::object{{"id", "rf-" + tag}, {"filename", "b.jpg"}, {"filesize", "20"}}}, "",
                                  "down-" + tag, peer, me)) {
                db_set_file_to_receive_progress(5, "rf-" + tag);
                db_set_file_received_status("rf-" + tag, "down-" + tag, "complete");
                db_get_download_progress("down-" + tag, "rf-" + tag);
            }
            db_get_next_queued_file_to_receive(peer);
            break;
        case 4:
            db_get_chats_with_peer(0, "", peer);
            break;
        case 5:
            get_alias();
            if (n % 24 == 5) set_alias("Name " + tag);
            get_webshare_password();
            get_downloads_folder();
            break;
        case 6:
            record_chat_event();
            if (t == 0) db_take_events_after(0);  // the upload loop is the one taker
            break;
        case 7:
            db_add_shared_files({Json::object{{"fileurl", "/s/" + tag}, {"filename", "s" + tag}}});
            db_get_shared_files();
            db_add_pending_file({"/p/" + tag});
            if (n % 36 == 7) db_take_pending_files();
            break;
        case 8:
            db_get_unsent_chats(peer, "text");
            db_get_total_unread();
            db_mark_device_read(peer);
            db_get_recent_peer_ips();
            break;
        case 9:
            set_run_on_startup(n % 2 == 0);
            get_run_on_startup();
            db_config_set(true, "test", tag);
            db_config_get(true, "test");
            break;
        case 10:
            make_datagram();
            db_get_upload_progress("up-" + tag, "x");
            db_get_downloads_from_sender(0, peer);
            break;
        case 11:
            if (n % 120 == 11) db_purge_old_records();
            db_get_file_to_send("sf-" + tag);
            db_get_transfer_file_json("rf-" + tag, "download");
            break;
    }
    ++result.operations;
}

TEST_F(StoreTest, EightThreadsAtOnceNeitherFailNorDeadlock) {
    store.platform().set_file_size("remote/b.jpg", 20);
    const std::string me = get_userid();
    std::vector<std::future<worker_result>> workers;
    const auto deadline = std::chrono::steady_clock::now() + run_time;
    for (int t = 0; t < thread_count; ++t) {
        workers.push_back(std::async(std::launch::async, [t, deadline, &me] {
            worker_result result;
            for (long n = t; std::chrono::steady_clock::now() < deadline; ++n) {
                try {
                    step(t, n, me, result);
                } catch (const std::exception& e) {
                    result.failure = "step " + std::to_string(n % 12) + ": " + e.what();
                    break;
                }
            }
            return result;
        }));
    }

    long chats = 0;
    for (int t = 0; t < thread_count; ++t) {
        if (workers[t].wait_until(deadline + std::chrono::seconds(60)) != std::future_status::ready) {
            std::cerr << "store threads deadlocked\n";
            std::_Exit(1);  // the hung threads cannot be joined
        }
        const worker_result result = workers[t].get();
        EXPECT_EQ(result.failure, "") << "thread " << t;
        EXPECT_GT(result.operations, 12) << "thread " << t;
        chats += result.chats_stored;
    }

    EXPECT_EQ(db_pool_idle_count(), db_pool_capacity);
    EXPECT_EQ(db_pool_in_use_count(), 0u);
    EXPECT_EQ(store.number("select count(*) from chats"), chats);
    EXPECT_EQ(store.text("pragma integrity_check"), "ok");
}

}  // namespace
}  // namespace vandrel
