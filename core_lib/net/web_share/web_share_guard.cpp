#include "core_lib/net/web_share/web_share_guard.h"

#include <algorithm>

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

std::chrono::seconds lock_for(int failures) {
    const int doublings = failures - web_code_guard::free_failures;
    std::chrono::seconds lock = web_code_guard::first_lock;
    for (int i = 0; i < doublings && lock < web_code_guard::longest_lock; ++i) lock *= 2;
    return std::min<std::chrono::seconds>(lock, web_code_guard::longest_lock);
}

}  // namespace

web_code_guard::verdict web_code_guard::check(const std::string& address, const std::string& given,
                                              const std::string& code, std::chrono::seconds* retry_after) {
    const clock::time_point now = now_();
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = records_.find(address);
    if (found != records_.end() && now < found->second.locked_until) {
        if (retry_after != nullptr) {
            const auto left = std::chrono::ceil<std::chrono::seconds>(found->second.locked_until - now);
            *retry_after = std::max(left, std::chrono::seconds(1));
        }
        return verdict::locked;
    }
    if (given.empty()) return verdict::missing;
    if (!code.empty() && same_code(given, code)) {
        if (found != records_.end()) records_.erase(found);
        return verdict::right;
    }
    if (found == records_.end()) {
        if (records_.size() >= max_addresses) {
            // Unlocked records first (their lock time lies in the past), then the
            // lock that ends soonest.
            auto first = std::min_element(records_.begin(), records_.end(), [](const auto& a, const auto& b) {
                return a.second.locked_until < b.second.locked_until;
            });
            records_.erase(first);
        }
        found = records_.emplace(address, record{}).first;
    }
    record& r = found->second;
    if (r.failures < 1000) ++r.failures;
    if (r.failures >= free_failures) r.locked_until = now + lock_for(r.failures);
    return verdict::wrong;
}

std::size_t web_code_guard::addresses() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return records_.size();
}

}  // namespace vandrel
