#include "core_lib/foundation/mime_types.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace vandrel {
namespace {

constexpr const char* word_type = "application/vnd.openxmlformats-officedocument.wordprocessingml.document";
constexpr const char* octet = "application/octet-stream";

TEST(MimeTypeFor, LooksUpTheLowerCasedTextAfterTheLastDot) {
    const std::pair<std::string, std::string> cases[] = {
        {"photo.JPG", "image/jpeg"},
        {"photo.jpeg", "image/jpeg"},
        {"clip.M4V", "video/x-m4v"},
        {"song.mp3", "audio/mpeg"},
        {"page.Html", "text/html"},
        {"D:\\docs\\report.final.docx", word_type},
        {"/home/u/report.final.docx", word_type},
        {"archive.tar.gz", octet},
        {"README", octet},
        {"name.", octet},
        {"", octet},
        {".", octet},
        {"mp4", "video/mp4"},  // no dot: the whole name is the key
        {"PNG", "image/png"},
        {"my.folder\\file", octet},
        {"my.folder/file", octet},
        {"a.mp4/", octet},
        {"film.mkv ", octet},  // nothing is trimmed
        {"x.M\xC3\x84V", octet},
        {"3gp", "video/3gpp"},
    };
    for (const auto& [name, type] : cases) EXPECT_EQ(mime_type_for(name), type) << "'" << name << "'";
}

TEST(MimeTypeFor, TableHoldsExactlyItsRows) {
    const std::pair<const char*, const char*> rows[] = {
        {"html", "text/html"},
        {"js", "text/javascript"},
        {"css", "text/css"},
        {"bmp", "image/bmp"},
        {"gif", "image/gif"},
        {"ico", "image/x-icon"},
        {"jpg", "image/jpeg"},
        {"jpeg", "image/jpeg"},
        {"png", "image/png"},
        {"tiff", "image/tiff"},
        {"heic", "image/heic"},
        {"heif", "image/heif"},
        {"mp3", "audio/mpeg"},
        {"oga", "audio/ogg"},
        {"wav", "audio/x-wav"},
        {"wma", "audio/x-ms-wma"},
        {"3gp", "video/3gpp"},
        {"avi", "video/x-msvideo"},
        {"flv", "video/x-flv"},
        {"f4v", "video/x-f4v"},
        {"m4v", "video/x-m4v"},
        {"mkv", "video/x-matroska"},
        {"wmv", "video/x-ms-wmv"},
        {"mp4", "video/mp4"},
        {"ogv", "video/ogg"},
        {"webm", "video/webm"},
        {"mov", "video/mov"},
        {"doc", "application/msword"},
        {"docx", word_type},
        {"xls", "application/vnd.ms-excel"},
        {"xlsx", "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet"},
        {"ppt", "application/vnd.ms-powerpoint"},
        {"pptx", "application/vnd.openxmlformats-officedocument.presentationml.presentation"},
    };
    EXPECT_EQ(mime_table().size(), std::size(rows));
    for (const auto& [extension, type] : rows) {
        EXPECT_EQ(mime_type_for(std::string("file.") + extension), type) << extension;
    }
}

// Run in a fresh process (threadsafe death-test style re-executes this test alone),
// so these really are the first calls that build the table.
TEST(MimeTypeForDeathTest, ConcurrentFirstCallsAllAnswerCorrectly) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            std::atomic<bool> go{false};
            std::atomic<int> wrong{0};
            std::vector<std::thread> threads;
            for (int t = 0; t < 16; ++t) {
                threads.emplace_back([&go, &wrong] {
                    while (!go.load()) std::this_thread::yield();
                    if (mime_type_for("a.PNG") != "image/png") ++wrong;
                    if (mime_type_for("b.pptx").rfind("application/vnd.openxml", 0) != 0) ++wrong;
                    if (mime_type_for("c.unknown") != octet) ++wrong;
                });
            }
            go = true;
            for (auto& thread : threads) thread.join();
            std::exit(wrong == 0 && mime_table().size() == 33 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace vandrel
