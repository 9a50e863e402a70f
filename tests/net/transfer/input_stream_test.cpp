#include "core_lib/net/transfer/input_stream.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/file_platform.h"
#include "tests/support/temp_store.h"

namespace vandrel {
namespace {

class InputStream : public testing::StoreTest {
protected:
    void SetUp() override { files = testing::install_file_platform(store.root() + "/files"); }

    // Every piece `read` gives, until it gives 0.
    static std::vector<std::int32_t> pieces(platform::mesk_input& input) {
        std::vector<std::int32_t> sizes;
        for (int i = 0; i < 100; ++i) {
            const std::int32_t n = input.read(input.buffer.data(), transfer_piece_bytes);
            if (n <= 0) break;
            sizes.push_back(n);
        }
        return sizes;
    }

    std::shared_ptr<testing::file_platform> files;
};

TEST_F(InputStream, ReadsAFileInPiecesOf16384BytesUntilItsEnd) {
    const struct {
        std::size_t size;
        std::vector<std::int32_t> pieces;
    } cases[] = {
        {0, {}}, {1, {1}}, {16384, {16384}}, {16385, {16384, 1}}, {40000, {16384, 16384, 7232}},
    };
    for (const auto& c : cases) {
        winrt_file_input input;
        ASSERT_TRUE(input.open(files->add_file("up", "f" + std::to_string(c.size), std::string(c.size, 'x'))));
        ASSERT_TRUE(input.seek(0));
        EXPECT_EQ(pieces(input), c.pieces) << c.size << " bytes";
        EXPECT_EQ(input.read(input.buffer.data(), transfer_piece_bytes), 0) << "a read past the end";
    }
}

TEST_F(InputStream, SeekStartsTheReadsAtTheOffsetAndPastTheEndGivesNothing) {
    winrt_file_input input;
    ASSERT_TRUE(input.open(files->add_file("up", "digits", "0123456789")));
    ASSERT_TRUE(input.seek(7));
    std::int32_t n = input.read(input.buffer.data(), transfer_piece_bytes);
    EXPECT_EQ(std::string(input.buffer.data(), static_cast<std::size_t>(n)), "789");
    // A second seek replaces the reader.
    ASSERT_TRUE(input.seek(2));
    n = input.read(input.buffer.data(), 3);
    EXPECT_EQ(std::string(input.buffer.data(), static_cast<std::size_t>(n)), "234");
    ASSERT_TRUE(input.seek(1000));
    EXPECT_EQ(input.read(input.buffer.data(), transfer_piece_bytes), 0);
}

TEST_F(InputStream, WhatCannotBeOpenedOrSoughtReadsAsNothing) {
    files->folder("up/sub");
    for (const std::string& path : {std::string("up||missing"), std::string("up||sub"), std::string("no|pipes"),
                                    std::string(""), std::string("ms-appx:///")}) {
        winrt_file_input input;
        EXPECT_FALSE(input.open(path)) << path;
        EXPECT_FALSE(input.seek(0)) << path;
        EXPECT_EQ(input.read(input.buffer.data(), transfer_piece_bytes), 0) << path;
    }
    // Opened, then gone before the seek.
    winrt_file_input input;
    const std::string path = files->add_file("up", "brief", "abc");
    ASSERT_TRUE(input.open(path));
    std::filesystem::remove(files->folder("up") + "brief");
    EXPECT_FALSE(input.seek(0));
    EXPECT_EQ(input.read(input.buffer.data(), transfer_piece_bytes), 0);
}

TEST_F(InputStream, PackagePathsOpenFilesOfThePackageOnly) {
    EXPECT_FALSE(is_package_path("ms-appx://"));
    EXPECT_FALSE(is_package_path("ms-appx://x"));
    EXPECT_TRUE(is_package_path("ms-appx:///"));
    EXPECT_TRUE(is_package_path("ms-appx:///x"));
    files->add_file("package/http_mode/bin", "index.html", "<html>");
    winrt_file_input input;
    ASSERT_TRUE(input.open("ms-appx:///http_mode/bin/index.html"));
    ASSERT_TRUE(input.seek(0));
    const std::int32_t n = input.read(input.buffer.data(), transfer_piece_bytes);
    EXPECT_EQ(std::string(input.buffer.data(), static_cast<std::size_t>(n)), "<html>");
    EXPECT_FALSE(winrt_file_input().open("ms-appx:///http_mode/bin/missing.html"));
}

TEST_F(InputStream, AThumbnailIsReadFromItsOwnStart) {
    const std::string picture = files->folder("cache") + "thumb.jpg";
    std::ofstream(picture, std::ios::binary) << "JPEGBYTES";
    files->set_thumbnail(picture);
    winrt_file_input input;
    ASSERT_TRUE(input.open_thumbnail(files->add_file("up", "big.png", std::string(100000, 'p'))));
    ASSERT_TRUE(input.seek(0));
    EXPECT_EQ(pieces(input), std::vector<std::int32_t>{9});
    EXPECT_EQ(std::string(input.buffer.data(), 9), "JPEGBYTES");

    // No picture of it (no image), or no file at all.
    files->set_thumbnail("");
    EXPECT_FALSE(winrt_file_input().open_thumbnail(files->add_file("up", "notes.txt", "text")));
    files->set_thumbnail(picture);
    EXPECT_FALSE(winrt_file_input().open_thumbnail("up||missing.png"));
}

}  // namespace
}  // namespace vandrel
