// The web-share code check, with lock-outs: a four-digit code would fall to 10,000
// guesses in seconds. Per address group (an IPv4 address, an IPv6 /64): after
// `free_failures` wrong codes the group is refused for `first_lock`, and each further
// wrong code doubles the time (up to `longest_lock`). Across all addresses: past
// `wrong_codes_per_window` wrong codes within `budget_window`, every code is refused for
// a lock-down of `first_lockdown`, doubling with each lock-down until a day passes
// without one, so a host with many addresses tries a few hundred codes a day at most.
// An address that gave the current code within `known_for` is let through a lock with that
// code, so a page already open keeps working; any other code from it ends that. A right code clears its group's record.
// At most `max_addresses` group records are kept: when full, the one whose lock ends first goes. Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <unordered_map>

namespace vandrel {

class web_code_guard {
public:
    using clock = std::chrono::steady_clock;
    // Called once when a lock-down starts, with its length; outside the guard's lock.
    using lockdown_notice = std::function<void(std::chrono::seconds)>;

    static constexpr int free_failures = 5;
    static constexpr std::chrono::seconds first_lock{60};
    static constexpr std::chrono::hours longest_lock{24};
    static constexpr std::size_t max_addresses = 4096;
    static constexpr int wrong_codes_per_window = 30;
    static constexpr std::chrono::seconds budget_window{60};
    static constexpr std::chrono::seconds first_lockdown{60};
    static constexpr std::chrono::hours known_for{1};
    static constexpr std::size_t max_known = 64;

    enum class verdict {
        right,
        missing,  // no code given: refused, not counted as a guess
        wrong,
        locked,  // the address (or every address) is locked out: the code is not compared
    };

    explicit web_code_guard(std::function<clock::time_point()> now = clock::now, lockdown_notice notice = {})
        : now_(std::move(now)), notice_(std::move(notice)) {}

    // Checks the code given from the address against the device's code. When the
    // answer is `locked`, `retry_after` is the time left (at least a second).
    verdict check(const std::string& address, const std::string& given, const std::string& code,
                  std::chrono::seconds* retry_after = nullptr);

    // Group records kept.
    std::size_t addresses() const;

private:
    struct record {
        int failures = 0;
        clock::time_point locked_until{};
    };
    struct known_address {
        std::string code;  // the code it gave: a new code must be given anew
        clock::time_point last_right{};
    };

    // Counts a wrong code against the budget of all addresses; the length of the
    // lock-down it starts, or zero.
    std::chrono::seconds spend_budget(clock::time_point now);
    // Whether a lock lets the address through: it gave this code lately. Anything else
    // from it during a lock forgets it.
    bool let_through(const std::string& address, const std::string& code, clock::time_point now);
    void remember(const std::string& address, const std::string& code, clock::time_point now);
    record& record_of(const std::string& group);

    std::function<clock::time_point()> now_;
    lockdown_notice notice_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, record> records_;
    std::unordered_map<std::string, known_address> known_;
    clock::time_point window_start_{};
    int window_wrong_ = 0;
    int lockdowns_ = 0;  // in a row, each twice as long as the one before
    clock::time_point lockdown_until_{};
};

// What the interface is told when a lock-down starts:
// {"action": "web_share_locked", "seconds": its length}.
std::string lockdown_event(std::chrono::seconds length);

}  // namespace vandrel
