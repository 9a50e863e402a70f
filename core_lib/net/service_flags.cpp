#include "core_lib/net/service_flags.h"

namespace vandrel {

bool downloads_pending = true;
std::mutex downloads_pending_mutex;

void set_downloads_pending(bool value) {
    std::lock_guard<std::mutex> lock(downloads_pending_mutex);
    downloads_pending = value;
}

std::atomic<bool> peer_refresh_flag{true};
std::atomic<bool> discovery_flag{true};
std::atomic<bool> announce_flag{true};

bool shared_files_changed = false;
std::mutex shared_files_mutex;

}  // namespace vandrel
