// The flags by which the store and the settings wake the service threads, kept per
// running core. downloads_pending and shared_files_changed are each guarded by a mutex
// of their own (taken after db_lock, never the other way round); the three refresh
// flags are atomic and start set, so every loop runs once at start.
#pragma once

#include <atomic>
#include <mutex>

namespace vandrel {

struct service_flags {
    // True tells the download thread to look at its queue of "queued" files again.
    std::mutex downloads_pending_mutex;
    bool downloads_pending = true;

    std::atomic<bool> peer_refresh{true};
    std::atomic<bool> discovery{true};
    std::atomic<bool> announce{true};

    // Set by every change of the shared files; the web-share server tells its clients
    // and clears it.
    std::mutex shared_files_mutex;
    bool shared_files_changed = false;
};

void set_downloads_pending(bool value);
bool get_downloads_pending();
// The flag as it was; it reads false afterwards. Taken before a look at the queue, so a
// download stored during the look sets it again for the next one.
bool take_downloads_pending();

std::atomic<bool>& peer_refresh_flag();
std::atomic<bool>& discovery_flag();
std::atomic<bool>& lan_announce_flag();

void raise_shared_files_changed();
// The flag as it was; it reads false afterwards.
bool take_shared_files_changed();

}  // namespace vandrel
