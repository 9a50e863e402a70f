#include "core_lib/net/delivery/resend_queue.h"

#include <mutex>

#include "core_lib/net/net_state.h"

namespace vandrel {

moodycamel::BlockingConcurrentQueue<bool>& resend_queue() { return current_net::get().resend_queue; }

void trigger_resend() { resend_queue().enqueue(true); }

void trigger_resend_for_newcomer() {
    resend_deliveries& d = current_net::get().deliveries;
    const auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard<std::mutex> lock(d.mutex);
        if (d.newcomer_wake_at != std::chrono::steady_clock::time_point{} &&
            now - d.newcomer_wake_at < newcomer_wake_pause) {
            d.newcomer_wake_due = true;
            return;
        }
        d.newcomer_wake_at = now;
        d.newcomer_wake_due = false;
    }
    trigger_resend();
}

bool held_newcomer_wake_due() {
    resend_deliveries& d = current_net::get().deliveries;
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(d.mutex);
    if (!d.newcomer_wake_due || now - d.newcomer_wake_at < newcomer_wake_pause) return false;
    d.newcomer_wake_due = false;
    d.newcomer_wake_at = now;
    return true;
}

}  // namespace vandrel
