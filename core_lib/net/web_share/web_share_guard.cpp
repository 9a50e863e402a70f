#include "core_lib/net/web_share/web_share_guard.h"

#include <algorithm>

#include "core_lib/foundation/json.h"
#include "core_lib/net/peers/peer_address.h"

namespace vandrel {

namespace {

// Takes as long for a near miss as for a far one.
bool same_code(const std::string& given, const std::string& code) {
    if (given.size() != code.size()) return false;
    unsigned char differs = 0;
    for (std::size_t i = 0; i < code.size(); ++i) {
        differs |= static_cast<unsigned char>(given[i] ^ code[i]);
    }
    return differs == 0;
}

// `first` doubled `doublings` times, never past `longest`.
std::chrono::seconds doubled(std::chrono::seconds first, int doublings, std::chrono::seconds longest) {
    std::chrono::seconds length = first;
    for (int i = 0; i < doublings && length < longest; ++i) length *= 2;
    return std::min(length, longest);
}

std::chrono::seconds lock_for(int failures) {
    return doubled(web_code_guard::first_lock, failures - web_code_guard::free_failures, web_code_guard::longest_lock);
}

std::chrono::seconds time_left(web_code_guard::clock::time_point until, web_code_guard::clock::time_point now) {
    return std::max(std::chrono::ceil<std::chrono::seconds>(until - now), std::chrono::seconds(1));
}

// Texts that are no IP literal ("test", "from_ui") stand for themselves.
std::string group_of(const std::string& address) {
    std::string group = address_group(address);
    return group.empty() ? address : group;
}

}  // namespace

web_code_guard::verdict web_code_guard::check(const std::string& address, const std::string& given,
                                              const std::string& code, std::chrono::seconds* retry_after) {
    const clock::time_point now = now_();
    const std::string group = group_of(address);
    std::chrono::seconds lockdown{0};
    verdict answer = verdict::wrong;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = records_.find(group);
        const bool group_locked = found != records_.end() && now < found->second.locked_until;
        const bool all_locked = now < lockdown_until_;
        if ((group_locked || all_locked) && !let_through(address, given, now)) {
            if (retry_after != nullptr) {
                clock::time_point until = all_locked ? lockdown_until_ : clock::time_point{};
                if (group_locked) until = std::max(until, found->second.locked_until);
                *retry_after = time_left(until, now);
            }
            return verdict::locked;
        }
        if (given.empty()) return verdict::missing;
        if (!code.empty() && same_code(given, code)) {
            // A known address let through a lock leaves the lock to run out.
            if (found != records_.end() && !group_locked) records_.erase(found);
            remember(address, code, now);
            return verdict::right;
        }
        record& r = record_of(group);
        if (r.failures < 1000) ++r.failures;
        if (r.failures >= free_failures) r.locked_until = now + lock_for(r.failures);
        if (!all_locked) lockdown = spend_budget(now);
        answer = verdict::wrong;
    }
    if (lockdown.count() > 0 && notice_) notice_(lockdown);
    return answer;
}

std::chrono::seconds web_code_guard::spend_budget(clock::time_point now) {
    if (window_wrong_ == 0 || now - window_start_ >= budget_window) {
        window_start_ = now;
        window_wrong_ = 0;
    }
    if (++window_wrong_ < wrong_codes_per_window) return std::chrono::seconds(0);
    // A day without a lock-down forgets the earlier ones.
    if (lockdowns_ > 0 && now - lockdown_until_ >= longest_lock) lockdowns_ = 0;
    const std::chrono::seconds length = doubled(first_lockdown, lockdowns_, longest_lock);
    if (lockdowns_ < 1000) ++lockdowns_;
    lockdown_until_ = now + length;
    window_wrong_ = 0;
    return length;
}

bool web_code_guard::let_through(const std::string& address, const std::string& code, clock::time_point now) {
    auto found = known_.find(address);
    if (found == known_.end()) return false;
    if (now - found->second.last_right < known_for && !code.empty() && same_code(code, found->second.code)) return true;
    // Anything else from it loses the pass: a host behind the same address gets no
    // guesses through a lock.
    known_.erase(found);
    return false;
}

void web_code_guard::remember(const std::string& address, const std::string& code, clock::time_point now) {
    if (known_.find(address) == known_.end() && known_.size() >= max_known) {
        auto oldest = std::min_element(known_.begin(), known_.end(), [](const auto& a, const auto& b) {
            return a.second.last_right < b.second.last_right;
        });
        known_.erase(oldest);
    }
    known_[address] = known_address{code, now};
}

web_code_guard::record& web_code_guard::record_of(const std::string& group) {
    auto found = records_.find(group);
    if (found != records_.end()) return found->second;
    if (records_.size() >= max_addresses) {
        // Unlocked records first (their lock time lies in the past), then the lock that
        // ends soonest.
        auto first = std::min_element(records_.begin(), records_.end(), [](const auto& a, const auto& b) {
            return a.second.locked_until < b.second.locked_until;
        });
        records_.erase(first);
    }
    return records_.emplace(group, record{}).first->second;
}

std::string lockdown_event(std::chrono::seconds length) {
    return Json(Json::object{{"action", "web_share_locked"}, {"seconds", static_cast<long>(length.count())}}).dump();
}

std::size_t web_code_guard::addresses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

}  // namespace vandrel
