#include "MeskRuntimeComponent/thumbnails.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/runtime/runtime_test_folder.h"
#include "tests/support/test_images.h"

namespace vandrel {
namespace {

using testing::read_file;

bool is_jpeg(const std::string& bytes) { return bytes.size() > 3 && bytes.compare(0, 3, "\xFF\xD8\xFF") == 0; }

class Thumbnails : public ::testing::Test {
protected:
    std::string cache() const { return folder / "cache/"; }
    testing::TestFolder folder;
};

TEST_F(Thumbnails, EveryPictureBecomesAJpegOfAtMost400PixelsOnItsLongSide) {
    const struct {
        std::string name;
        int width, height;
        std::pair<int, int> thumbnail;
    } cases[] = {
        {"wide.jpg", 1200, 800, {400, 267}},     {"tall.png", 300, 900, {133, 400}},
        {"square.webp", 1000, 1000, {400, 400}}, {"scan.tif", 800, 200, {400, 100}},
        {"small.png", 100, 50, {100, 50}},  // never made larger
    };
    for (const auto& c : cases) {
        const std::string image = folder / c.name;
        ASSERT_TRUE(testing::write_test_image(image, c.width, c.height)) << c.name;
        const std::string made = make_thumbnail(image, cache());
        ASSERT_FALSE(made.empty()) << c.name;
        const std::string bytes = read_file(made);
        EXPECT_TRUE(is_jpeg(bytes)) << c.name;
        EXPECT_EQ(testing::picture_size(bytes), c.thumbnail) << c.name;
        EXPECT_EQ(testing::picture_size(thumbnail_bytes(image)), c.thumbnail) << c.name << " in memory";
    }
}

TEST_F(Thumbnails, WhatIsNoPictureHasNone) {
    std::string noise(100000, '\0');
    for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 131 + i / 7) & 0xFF);
    std::ofstream(folder / "random.jpg", std::ios::binary) << noise;
    std::ofstream(folder / "notes.txt") << "just words";
    std::ofstream(folder / "empty.png") << "";
    folder.make_folder("pictures.png");
    for (const char* name : {"random.jpg", "notes.txt", "empty.png", "pictures.png", "missing.png"}) {
        EXPECT_EQ(make_thumbnail(folder / name, cache()), "") << name;
        EXPECT_EQ(thumbnail_bytes(folder / name), "") << name;
    }
    if (std::filesystem::exists(cache())) {
        EXPECT_TRUE(std::filesystem::is_empty(cache())) << "no picture is kept for them";
    }
}

TEST_F(Thumbnails, AThumbnailIsMadeOnceAndAgainOnlyWhenThePictureChanges) {
    const std::string image = folder / "photo.jpg";
    ASSERT_TRUE(testing::write_test_image(image, 900, 600));
    const std::string made = make_thumbnail(image, cache());
    ASSERT_FALSE(made.empty());
    // What the cache holds is what is answered: nothing is made again.
    std::ofstream(made, std::ios::binary | std::ios::trunc) << "kept";
    EXPECT_EQ(make_thumbnail(image, cache()), made);
    EXPECT_EQ(read_file(made), "kept");

    ASSERT_TRUE(testing::write_test_image(image, 500, 1000));
    const std::string remade = make_thumbnail(image, cache());
    ASSERT_FALSE(remade.empty());
    EXPECT_NE(remade, made);
    EXPECT_EQ(testing::picture_size(read_file(remade)), std::make_pair(200, 400));
}

TEST_F(Thumbnails, ManyAskingAtOnceAllGetTheWholePicture) {
    const std::string image = folder / "shared.png";
    ASSERT_TRUE(testing::write_test_image(image, 1600, 1200));
    std::vector<std::string> made(6);
    std::vector<std::thread> askers;
    for (auto& slot : made) askers.emplace_back([&slot, &image, this] { slot = make_thumbnail(image, cache()); });
    for (auto& t : askers) t.join();
    for (const std::string& path : made) {
        EXPECT_EQ(path, made.front());
        EXPECT_EQ(testing::picture_size(read_file(path)), std::make_pair(400, 300));
    }
    for (const auto& entry : std::filesystem::directory_iterator(cache()))
        EXPECT_EQ(entry.path().string().find(".part"), std::string::npos) << entry.path();
}

}  // namespace
}  // namespace vandrel
