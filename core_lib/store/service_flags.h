// The flags by which the store and the settings wake the service threads, kept per
// running core. downloads_pending and shared_files_changed are each guarded by a mutex
// of their own (taken after db_lock, never the other way round); the three refresh
// flags are atomic and start set, so every loop runs once at start. A thread that waits
// for downloads_pending or shared_files_changed is woken when it is raised, never polls.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace vandrel {

struct service_flags {
    // True tells the download thread to look at its queue of "queued" files again.
    std::mutex downloads_pending_mutex;
    std::condition_variable downloads_raised;
    bool downloads_pending = true;

    std::atomic<bool> peer_refresh{true};
    std::atomic<bool> discovery{true};
    std::atomic<bool> announce{true};

    // Set by every change of the shared files; the web-share server tells its clients
    // and clears it.
    std::mutex shared_files_mutex;
    bool shared_files_changed = false;
    std::function<void()> shared_files_listener;
};

void set_downloads_pending(bool value);
bool get_downloads_pending();
// The flag as it was; it reads false afterwards. Taken before a look at the queue, so a
// download stored during the look sets it again for the next one.
bool take_downloads_pending();
// Waits until downloads_pending is set, `give_up` is true or the limit passes, and
// returns the flag. Whoever makes `give_up` true calls wake_download_waiters().
bool wait_downloads_pending(std::chrono::milliseconds limit, const std::function<bool()>& give_up);
void wake_download_waiters();

std::atomic<bool>& peer_refresh_flag();
std::atomic<bool>& discovery_flag();
std::atomic<bool>& lan_announce_flag();

void raise_shared_files_changed();
// Called (under the flag's lock, so it must only hand the news on) at each raise; an
// empty function removes it.
void set_shared_files_listener(std::function<void()> listener);
// The flag as it was; it reads false afterwards.
bool take_shared_files_changed();

}  // namespace vandrel
