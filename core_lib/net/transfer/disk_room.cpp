#include "core_lib/net/transfer/disk_room.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vandrel {

std::optional<disk_space> disk_space_at(const std::string& path) {
    if (path.empty()) return std::nullopt;
    std::filesystem::path at(path);
    std::error_code ec;
    // A file not yet there is asked for through its folder.
    while (!at.empty() && !std::filesystem::exists(at, ec)) {
        if (at == at.parent_path()) return std::nullopt;
        at = at.parent_path();
    }
    if (at.empty()) return std::nullopt;
    const std::filesystem::space_info info = std::filesystem::space(at, ec);
    if (ec) return std::nullopt;
    return disk_space{info.capacity, info.available};
}

std::uint64_t reserved_bytes(const disk_space& space) {
    constexpr std::uint64_t one_gib = 1ull << 30;
    return std::max(one_gib, space.capacity / 20);
}

std::string room_problem(const disk_space& space, std::uint64_t needed) {
    const std::uint64_t reserve = reserved_bytes(space);
    if (space.available >= reserve && space.available - reserve >= needed) return {};
    return "not enough space: " + std::to_string(needed + reserve) + " bytes needed, " +
           std::to_string(space.available) + " free";
}

}  // namespace vandrel
