#include "MeskRuntimeComponent/device_info.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "tests/runtime/runtime_test_folder.h"

namespace vandrel {
namespace {

using testing::TestFolder;

TEST(DeviceModel, FromDmiModelAndMaker) {
    TestFolder root;
    root.write("sys/class/dmi/id/product_name", "ThinkBook 14 G2\n");
    root.write("sys/class/dmi/id/sys_vendor", "Lenvik\n");
    root.write("proc/device-tree/model", std::string("Board X\0", 8));
    EXPECT_EQ(read_device_model(root.path()), "linux/ThinkBook 14 G2 - Lenvik");
}

TEST(DeviceModel, FromTheDeviceTreeWhenThereIsNoDmi) {
    TestFolder root;
    root.write("proc/device-tree/model", std::string("Raspberry Pi 4 Model B Rev 1.4\0", 31));
    EXPECT_EQ(read_device_model(root.path()), "linux/Raspberry Pi 4 Model B Rev 1.4 - ");
}

TEST(DeviceModel, NothingToReadStillGivesTheOsWord) {
    TestFolder root;
    EXPECT_EQ(read_device_model(root.path()), "linux/ - ");
}

TEST(DeviceModel, BarsAndControlCharactersAreRemoved) {
    TestFolder root;
    root.write("sys/class/dmi/id/product_name", "Model|X\tY\x01 \n");
    root.write("sys/class/dmi/id/sys_vendor", "  Maker||Co\x7f  ");
    const std::string model = read_device_model(root.path());
    EXPECT_EQ(model, "linux/ModelXY - MakerCo");
    EXPECT_EQ(model.find('|'), std::string::npos);
}

TEST(DeviceModel, ReadOnceAndSharedByEveryThread) {
    TestFolder root;
    root.write("sys/class/dmi/id/product_name", "First");
    root.write("sys/class/dmi/id/sys_vendor", "Maker");
    DeviceModelCache cache(root.path());
    std::vector<std::string> seen(4);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < seen.size(); ++i) threads.emplace_back([&, i] { seen[i] = cache.get(); });
    for (auto& thread : threads) thread.join();
    for (const auto& model : seen) EXPECT_EQ(model, "linux/First - Maker");

    root.write("sys/class/dmi/id/product_name", "Second");
    EXPECT_EQ(cache.get(), "linux/First - Maker");
}

}  // namespace
}  // namespace vandrel
