// The web-share code check, with a lock-out: a four-digit code would fall to 10,000
// guesses in seconds. After `free_failures` wrong codes from one address, that address
// is refused for `first_lock`, and each further wrong code doubles the time (up to
// `longest_lock`). A right code clears its address's record; other addresses are never
// affected. At most `max_addresses` records are kept: when full, the one whose lock
// ends first goes. Thread-safe.
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

    static constexpr int free_failures = 5;
    static constexpr std::chrono::seconds first_lock{60};
    static constexpr std::chrono::hours longest_lock{24};
    static constexpr std::size_t max_addresses = 4096;

    enum class verdict {
        right,
        missing,  // no code given: refused, not counted as a guess
        wrong,
        locked,  // the address is locked out: the code is not even compared
    };

    explicit web_code_guard(std::function<clock::time_point()> now = clock::now) : now_(std::move(now)) {}

    // Checks the code given from the address against the device's code. When the
    // answer is `locked`, `retry_after` is the time left (at least a second).
    verdict check(const std::string& address, const std::string& given, const std::string& code,
                  std::chrono::seconds* retry_after = nullptr);

    std::size_t addresses() const;

private:
    struct record {
        int failures = 0;
        clock::time_point locked_until{};
    };

    std::function<clock::time_point()> now_;
    mutable std::mutex mutex_;
    std::unordered_map<std::string, record> records_;
};

}  // namespace vandrel
