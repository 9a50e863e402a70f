#include "core_lib/store/service_flags.h"

#include "core_lib/store/store_state.h"

namespace vandrel {

namespace {

service_flags& flags() { return current_store::get().flags; }

}  // namespace

void set_downloads_pending(bool value) {
    service_flags& f = flags();
    {
        std::lock_guard<std::mutex> lock(f.downloads_pending_mutex);
        f.downloads_pending = value;
    }
    if (value) f.downloads_raised.notify_all();
}

bool wait_downloads_pending(std::chrono::milliseconds limit, const std::function<bool()>& give_up) {
    service_flags& f = flags();
    std::unique_lock<std::mutex> lock(f.downloads_pending_mutex);
    f.downloads_raised.wait_for(lock, limit, [&] { return f.downloads_pending || give_up(); });
    return f.downloads_pending;
}

void wake_download_waiters() {
    service_flags& f = flags();
    {
        // Taken so that a waiter between its test and its sleep does not miss the news.
        std::lock_guard<std::mutex> lock(f.downloads_pending_mutex);
    }
    f.downloads_raised.notify_all();
}

bool get_downloads_pending() {
    service_flags& f = flags();
    std::lock_guard<std::mutex> lock(f.downloads_pending_mutex);
    return f.downloads_pending;
}

bool take_downloads_pending() {
    service_flags& f = flags();
    std::lock_guard<std::mutex> lock(f.downloads_pending_mutex);
    const bool was = f.downloads_pending;
    f.downloads_pending = false;
    return was;
}

std::atomic<bool>& peer_refresh_flag() { return flags().peer_refresh; }
std::atomic<bool>& discovery_flag() { return flags().discovery; }
std::atomic<bool>& lan_announce_flag() { return flags().announce; }

void raise_shared_files_changed() {
    service_flags& f = flags();
    std::lock_guard<std::mutex> lock(f.shared_files_mutex);
    f.shared_files_changed = true;
    if (f.shared_files_listener) f.shared_files_listener();
}

void set_shared_files_listener(std::function<void()> listener) {
    service_flags& f = flags();
    std::lock_guard<std::mutex> lock(f.shared_files_mutex);
    f.shared_files_listener = std::move(listener);
}

bool take_shared_files_changed() {
    service_flags& f = flags();
    std::lock_guard<std::mutex> lock(f.shared_files_mutex);
    bool was = f.shared_files_changed;
    f.shared_files_changed = false;
    return was;
}

}  // namespace vandrel
