#include "core_lib/net/transfer/transfer_slots.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace vandrel {
namespace {

TEST(TransferSlot, HoldsSeveralIdsUntilEachIsCleared) {
    transfer_slot slot;
    slot.add("a");
    slot.add("b");
    slot.add("a");
    EXPECT_TRUE(slot.contains("a"));
    EXPECT_TRUE(slot.contains("b"));
    EXPECT_EQ(slot.ids(), (std::vector<std::string>{"a", "b"}));

    EXPECT_TRUE(slot.remove("a"));
    EXPECT_FALSE(slot.remove("a"));
    EXPECT_FALSE(slot.contains("a"));
    EXPECT_TRUE(slot.contains("b"));
}

TEST(TransferSlot, NeverHoldsTheEmptyId) {
    transfer_slot slot;
    slot.add("");
    EXPECT_FALSE(slot.contains(""));
    EXPECT_TRUE(slot.ids().empty());
}

TEST(TransferSlot, ConcurrentWritersAndReadersSeeWholeIds) {
    transfer_slot slot;
    const std::string long_id(200, 'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&slot, &long_id, t] {
            for (int i = 0; i < 2000; ++i) {
                const std::string id = long_id + std::to_string(t);
                slot.add(id);
                for (const std::string& held : slot.ids()) ASSERT_EQ(held.size(), long_id.size() + 1);
                slot.remove(id);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_TRUE(slot.ids().empty());
}

}  // namespace
}  // namespace vandrel
