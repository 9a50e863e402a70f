#include "core_lib/store/service_flags.h"

#include "core_lib/store/store_state.h"

namespace vandrel {

namespace {

service_flags& flags() { return current_store::get().flags; }

}  // namespace

void set_downloads_pending(bool value) {
    service_flags& f = flags();
    std::lock_guard<std::mutex> lock(f.downloads_pending_mutex);
    f.downloads_pending = value;
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
}

bool take_shared_files_changed() {
    service_flags& f = flags();
    std::lock_guard<std::mutex> lock(f.shared_files_mutex);
    bool was = f.shared_files_changed;
    f.shared_files_changed = false;
    return was;
}

}  // namespace vandrel
