#include "core_lib/foundation/clock_random.h"

#include <chrono>
#include <limits>
#include <mutex>
#include <stdexcept>

#include "core_lib/foundation/sha256.h"

namespace vandrel {

namespace {

struct shared_engine {
    std::mutex mutex;
    std::mt19937 engine;

    shared_engine() {
        std::random_device device;
        engine.seed(device());
    }
};

shared_engine& random_engine() {
    static shared_engine instance;
    return instance;
}

// Made during static initialisation, so the seed is drawn before any entry point runs.
[[maybe_unused]] shared_engine& engine_at_start = random_engine();

}  // namespace

std::int64_t now_ms() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int random_int(int lo, int hi) {
    if (lo > hi) throw std::invalid_argument("random_int: lo above hi");
    if (lo == hi) return lo;

    const std::uint32_t span = static_cast<std::uint32_t>(hi) - static_cast<std::uint32_t>(lo);
    shared_engine& shared = random_engine();
    std::lock_guard<std::mutex> lock(shared.mutex);
    if (span == std::numeric_limits<std::uint32_t>::max()) {
        return static_cast<int>(static_cast<std::uint32_t>(lo) + shared.engine());
    }
    // Reject the top draws that would favour the low residues.
    const std::uint32_t n = span + 1;
    const std::uint32_t m = std::numeric_limits<std::uint32_t>::max();
    for (;;) {
        const std::uint32_t w = shared.engine();
        if (w / n < m / n || m % n == n - 1) {
            return static_cast<int>(static_cast<std::uint32_t>(lo) + w % n);
        }
    }
}

std::mt19937 random_engine_snapshot() {
    shared_engine& shared = random_engine();
    std::lock_guard<std::mutex> lock(shared.mutex);
    return shared.engine;
}

uuid_value make_uuid_v4() {
    std::random_device device;
    const auto draw64 = [&device] {
        const std::uint64_t high = device();
        const std::uint64_t low = device();
        return (high << 32) | low;
    };
    uuid_value uuid;
    uuid.first_half = draw64();
    uuid.second_half = draw64();
    uuid.first_half = (uuid.first_half & ~std::uint64_t{0xF000}) | std::uint64_t{0x4000};
    uuid.second_half = (uuid.second_half & ~(std::uint64_t{3} << 62)) | (std::uint64_t{1} << 63);
    return uuid;
}

namespace {

void put_hex(std::string& out, std::uint64_t value, int digits) {
    static constexpr char hex[] = "0123456789abcdef";
    for (int i = digits - 1; i >= 0; --i) out.push_back(hex[(value >> (4 * i)) & 0xF]);
}

}  // namespace

std::string uuid_to_string(const uuid_value& uuid) {
    std::string out;
    out.reserve(36);
    put_hex(out, uuid.first_half >> 32, 8);
    out.push_back('-');
    put_hex(out, uuid.first_half >> 16, 4);
    out.push_back('-');
    put_hex(out, uuid.first_half, 4);
    out.push_back('-');
    put_hex(out, uuid.second_half >> 48, 4);
    out.push_back('-');
    put_hex(out, uuid.second_half >> 32, 4);
    put_hex(out, uuid.second_half, 8);
    return out;
}

std::string random_string() { return sha256_hex(uuid_to_string(make_uuid_v4())); }

std::string random_passphrase(std::size_t length) {
    const std::string alphabet = passphrase_alphabet;
    const auto n = static_cast<std::uint32_t>(alphabet.size());
    // Draws at or above the last whole multiple of n would favour the first characters.
    const std::uint32_t accepted_below = std::numeric_limits<std::uint32_t>::max() / n * n;
    std::random_device device;
    std::string made;
    made.reserve(length);
    while (made.size() < length) {
        const std::uint32_t draw = device();
        if (draw < accepted_below) made.push_back(alphabet[draw % n]);
    }
    return made;
}

}  // namespace vandrel
