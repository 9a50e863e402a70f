#include "core_lib/net/transfer/disk_room.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace vandrel {
namespace {

constexpr std::uint64_t gib = 1ull << 30;
constexpr std::uint64_t mib = 1ull << 20;

TEST(DiskRoom, AFileStartsOnlyWhenItLeavesTheReserveFree) {
    struct room_case {
        const char* what;
        disk_space space;
        std::uint64_t needed;
        std::string problem;
    };
    const room_case cases[] = {
        {"a small disk keeps 1 GiB", {8 * gib, 2 * gib}, gib, ""},
        {"one byte past the 1 GiB reserve",
         {8 * gib, 2 * gib},
         gib + 1,
         "not enough space: " + std::to_string(2 * gib + 1) + " bytes needed, " + std::to_string(2 * gib) + " free"},
        {"less free than the reserve itself",
         {8 * gib, gib - mib},
         0,
         "not enough space: " + std::to_string(gib) + " bytes needed, " + std::to_string(gib - mib) + " free"},
        {"a large disk keeps 5%", {100 * gib, 10 * gib}, 5 * gib, ""},
        {"5% of a large disk is more than 1 GiB",
         {100 * gib, 10 * gib},
         5 * gib + 1,
         "not enough space: " + std::to_string(10 * gib + 1) + " bytes needed, " + std::to_string(10 * gib) + " free"},
        {"a disk smaller than the reserve takes nothing",
         {512 * mib, 500 * mib},
         1,
         "not enough space: " + std::to_string(gib + 1) + " bytes needed, " + std::to_string(500 * mib) + " free"},
    };
    for (const room_case& c : cases) EXPECT_EQ(room_problem(c.space, c.needed), c.problem) << c.what;
    EXPECT_EQ(reserved_bytes({100 * gib, 0}), 5 * gib);
    EXPECT_EQ(reserved_bytes({gib, 0}), gib);
}

TEST(DiskRoom, AFileNotYetThereIsAskedForThroughItsFolder) {
    const std::string folder = std::filesystem::temp_directory_path().string();
    const auto at_folder = disk_space_at(folder);
    ASSERT_TRUE(at_folder);
    EXPECT_GT(at_folder->capacity, 0u);
    const auto at_new_file = disk_space_at(folder + "/not there yet/file.bin");
    ASSERT_TRUE(at_new_file);
    EXPECT_EQ(at_new_file->capacity, at_folder->capacity);
    EXPECT_FALSE(disk_space_at(""));
}

}  // namespace
}  // namespace vandrel
