#include "core_lib/net/transfer/transfer_slots.h"

#include "core_lib/net/net_state.h"

namespace vandrel {

transfer_slot& stopped_download_id() { return current_net::get().slots.stopped_download_id; }
transfer_slot& stopped_upload_id() { return current_net::get().slots.stopped_upload_id; }
transfer_slot& paused_file_id() { return current_net::get().slots.paused_file_id; }

void transfer_slot::add(const std::string& id) {
    if (id.empty()) return;
    std::lock_guard<std::mutex> lock(mutex);
    held.insert(id);
}

bool transfer_slot::contains(const std::string& id) const {
    std::lock_guard<std::mutex> lock(mutex);
    return held.count(id) != 0;
}

bool transfer_slot::remove(const std::string& id) {
    std::lock_guard<std::mutex> lock(mutex);
    return held.erase(id) != 0;
}

void transfer_slot::clear() {
    std::lock_guard<std::mutex> lock(mutex);
    held.clear();
}

std::vector<std::string> transfer_slot::ids() const {
    std::lock_guard<std::mutex> lock(mutex);
    return {held.begin(), held.end()};
}

std::vector<std::string> transfer_slot::take_all() {
    std::lock_guard<std::mutex> lock(mutex);
    std::vector<std::string> taken(held.begin(), held.end());
    held.clear();
    return taken;
}

}  // namespace vandrel
