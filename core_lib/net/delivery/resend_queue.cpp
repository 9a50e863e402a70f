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
            // The loop hears of the first wake-up held back, so that it looks again
            // once the pause is over instead of watching for one at idle.
            const bool first = !d.newcomer_wake_due;
            d.newcomer_wake_due = true;
            if (first) resend_queue().enqueue(false);
            return;
        }
        d.newcomer_wake_at = now;
        d.newcomer_wake_due = false;
    }
    trigger_resend();
}

bool newcomer_wake_held() {
    resend_deliveries& d = current_net::get().deliveries;
    std::lock_guard<std::mutex> lock(d.mutex);
    return d.newcomer_wake_due;
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
