#include "core_lib/foundation/file_names.h"

#include <gtest/gtest.h>

#include <string>

namespace vandrel {
namespace {

TEST(SanitizeFileName, RemovesTheEightCharactersAndParentSteps) {
    struct Case {
        std::string name;
        std::string expected;
    };
    const Case cases[] = {
        {"plain.txt", "plain.txt"},
        {"a<b>c:d\"e\\f|g?h*i.txt", "abcdefghi.txt"},
        {"../../etc/passwd", "etc/passwd"},
        {"..././x", "x"},  // a removal that forms "../" anew removes that too
        {"dir/file.txt", "dir/file.txt"},
        {"..\\..\\win.ini", "....win.ini"},  // backslashes go first, so no "../" remains
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(sanitize_file_name(c.name), c.expected) << c.name;
}

TEST(SafeFileName, OneSafeLastComponent) {
    struct Case {
        std::string name;
        std::string expected;
    };
    const Case cases[] = {
        {"photo.jpg", "photo.jpg"},
        {"holiday/2024/photo.jpg", "photo.jpg"},
        {"../../.bashrc", ".bashrc"},
        {"/etc/passwd", "passwd"},
        {"a<b>|c.txt", "abc.txt"},
        {"", "file"},
        {".", "file"},
        {"..", "file"},
        {"dir/", "file"},
        {"dir/..", "file"},
        {"tab\there\nnl\x7f.txt", "tabherenl.txt"},
        {std::string("nul\0byte.txt", 12), "nulbyte.txt"},
        {"caf\xC3\xA9.txt", "caf\xC3\xA9.txt"},
        {"bad\xFF\xC3.txt", "bad__.txt"},
        {"...", "..."},
    };
    for (const auto& c : cases) EXPECT_EQ(safe_file_name(c.name), c.expected) << c.name;
}

TEST(SafeFileName, LongNamesAreCutOnACharacterKeepingTheExtension) {
    const std::string long_ascii = std::string(300, 'a') + ".jpeg";
    const std::string cut = safe_file_name(long_ascii);
    EXPECT_EQ(cut.size(), max_file_name_bytes);
    EXPECT_EQ(cut, std::string(max_file_name_bytes - 5, 'a') + ".jpeg");

    // Two-byte letters: the cut may not split one.
    std::string accented;
    for (int i = 0; i < 200; ++i) accented += "\xC3\xA9";
    const std::string cut_accented = safe_file_name(accented + ".txt");
    EXPECT_LE(cut_accented.size(), max_file_name_bytes);
    EXPECT_EQ(cut_accented.substr(cut_accented.size() - 4), ".txt");
    EXPECT_EQ(cut_accented, std::string(accented, 0, max_file_name_bytes - 4) + ".txt");

    // A very long "extension" is no extension: the whole name is cut.
    const std::string odd = "x." + std::string(400, 'e');
    EXPECT_EQ(safe_file_name(odd), odd.substr(0, max_file_name_bytes));

    // A smaller limit for names that get a suffix later.
    EXPECT_EQ(safe_file_name("abcdefghij.txt", 8), "abcd.txt");
}

TEST(SafeFileName, DerivedNamesFitAFileName) {
    const struct {
        std::string name;
        std::string temporary;
        std::string backup;
    } cases[] = {
        {"photo.jpg", "photo.jpg.tmp.jpg", "photo.jpg.mesk_backup_5120.jpg"},
        {"README", "README.tmp.README", "README.mesk_backup_5120.README"},
        {"a.tar.gz", "a.tar.gz.tmp.gz", "a.tar.gz.mesk_backup_5120.gz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(temporary_file_name(c.name), c.temporary);
        EXPECT_EQ(backup_file_name(c.name, 5120), c.backup);
    }
    // The longest safe names, with the largest size, stay within 255 bytes.
    for (const std::string& name :
         {std::string(400, 'n'), "x." + std::string(400, 'e'), std::string(300, 'a') + ".jpeg"}) {
        const std::string safe = safe_file_name(name);
        EXPECT_LE(backup_file_name(safe, UINT64_MAX).size(), 255u) << safe.size();
        EXPECT_LE(temporary_file_name(safe).size(), 255u);
    }
}

}  // namespace
}  // namespace vandrel
