// Room for a received file: one may start only when what it still needs leaves the
// receiving file system at least max(1 GiB, 5% of its size) free, so one large offer
// never fills the disk for every other file.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vandrel {

struct disk_space {
    std::uint64_t capacity = 0;
    std::uint64_t available = 0;
};

// The space of the file system that holds `path` (or its nearest existing folder);
// nothing when it cannot be read.
std::optional<disk_space> disk_space_at(const std::string& path);

// What must stay free: max(1 GiB, 5% of the capacity).
std::uint64_t reserved_bytes(const disk_space& space);

// "" when `needed` more bytes leave the reserve free; otherwise the message
// "not enough space: N bytes needed, M free", N being `needed` and the reserve.
std::string room_problem(const disk_space& space, std::uint64_t needed);

}  // namespace vandrel
