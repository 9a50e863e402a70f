#include "core_lib/store/service_flags.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::StoreTest;

// A waiter for queued downloads sleeps until the flag is raised or it is told to give
// up, and never longer than its limit; a raised flag ends the wait at once.
TEST_F(StoreTest, DownloadWaitersWakeWhenTheFlagIsRaisedOrTheyGiveUp) {
    set_downloads_pending(true);
    EXPECT_TRUE(wait_downloads_pending(60s, [] { return false; }));

    set_downloads_pending(false);
    EXPECT_FALSE(wait_downloads_pending(20ms, [] { return false; }));

    auto raised = std::async(std::launch::async, [] { return wait_downloads_pending(60s, [] { return false; }); });
    std::this_thread::sleep_for(50ms);
    set_downloads_pending(true);
    ASSERT_EQ(raised.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(raised.get());

    set_downloads_pending(false);
    std::atomic<bool> stopping{false};
    auto given_up = std::async(std::launch::async, [&stopping] {
        return wait_downloads_pending(60s, [&stopping] { return stopping.load(); });
    });
    std::this_thread::sleep_for(50ms);
    stopping = true;
    wake_download_waiters();
    ASSERT_EQ(given_up.wait_for(10s), std::future_status::ready);
    EXPECT_FALSE(given_up.get());
}

// Each raise of the shared files reaches the listener; once it is removed, none does.
TEST_F(StoreTest, SharedFilesListenerHearsEachRaiseUntilRemoved) {
    int heard = 0;
    set_shared_files_listener([&heard] { ++heard; });
    raise_shared_files_changed();
    raise_shared_files_changed();
    EXPECT_EQ(heard, 2);
    EXPECT_TRUE(take_shared_files_changed());
    set_shared_files_listener({});
    raise_shared_files_changed();
    EXPECT_EQ(heard, 2);
    EXPECT_TRUE(take_shared_files_changed());
}

}  // namespace
}  // namespace vandrel
