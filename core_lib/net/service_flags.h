// Process-wide flags by which the store and the settings wake the service threads.
// downloads_pending is guarded by downloads_pending_mutex (taken after db_lock, never
// the other way round); shared_files_changed by shared_files_mutex (likewise); the
// three refresh flags are atomic and start set, so every loop runs once at start.
#pragma once

#include <atomic>
#include <mutex>

namespace vandrel {

// True tells the download thread to look at its queue of "queued" files again.
extern bool downloads_pending;
extern std::mutex downloads_pending_mutex;
void set_downloads_pending(bool value);

extern std::atomic<bool> peer_refresh_flag;
extern std::atomic<bool> discovery_flag;
extern std::atomic<bool> announce_flag;

// Set by every change of the shared files; the web-share server tells its clients and
// clears it.
extern bool shared_files_changed;
extern std::mutex shared_files_mutex;

}  // namespace vandrel
