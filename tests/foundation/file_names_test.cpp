#include "core_lib/foundation/file_names.h"

#include <gtest/gtest.h>

#include <string>

#include "core_lib/foundation/text_utils.h"

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
        std::string backup;
        std::string second;
    } cases[] = {
        {"photo.jpg", "photo.jpg.mesk_backup_5120.jpg", "photo.jpg.mesk_backup_5120_1.jpg"},
        {"README", "README.mesk_backup_5120.README", "README.mesk_backup_5120_1.README"},
        {"a.tar.gz", "a.tar.gz.mesk_backup_5120.gz", "a.tar.gz.mesk_backup_5120_1.gz"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(backup_file_name(c.name, 5120), c.backup);
        EXPECT_EQ(backup_file_name(c.name, 5120, 1), c.second);
    }
    // The longest safe names, with the largest size and attempt, stay within 255 bytes.
    for (const std::string& name :
         {std::string(400, 'n'), "x." + std::string(400, 'e'), std::string(300, 'a') + ".jpeg"}) {
        const std::string safe = safe_file_name(name);
        EXPECT_LE(backup_file_name(safe, UINT64_MAX, 9999).size(), 255u) << safe.size();
    }
}

TEST(SafeFileName, NoNameIsThePartialFolder) {
    for (const char* name : {".mesk_partial", ".MESK_Partial", "x/.mesk_partial", "../.mesk_partial"})
        EXPECT_EQ(to_lower(safe_file_name(name)), "_.mesk_partial") << name;
    // Nor a folder of a received path, so no received file lands among the partial files.
    EXPECT_EQ(safe_relative_path(".mesk_partial/0123.bin"), "_.mesk_partial/0123.bin");
    EXPECT_EQ(safe_relative_path(".Mesk_Partial/x/y"), "_.Mesk_Partial/x/y");
    EXPECT_EQ(safe_file_name(".mesk_partial2"), ".mesk_partial2");
}

TEST(PartialFileName, OneNamePerFileIdWhateverTheCaseOfItsLetters) {
    const std::string lower = partial_file_name("abc");
    EXPECT_EQ(lower.size(), 64u);
    EXPECT_EQ(lower, partial_file_name("abc")) << "the same id finds the same file again";
    EXPECT_NE(to_lower(lower), to_lower(partial_file_name("ABC"))) << "a file system without case tells them apart";
    EXPECT_EQ(lower.find_first_not_of("0123456789abcdef"), std::string::npos);
}

TEST(SafeRelativePath, KeepsTheFoldersEachMadeSafe) {
    struct Case {
        std::string name;
        std::string folders;
        std::string path;
    };
    const Case cases[] = {
        {"photo.jpg", "", "photo.jpg"},
        {"trip/one/README.txt", "trip/one", "trip/one/README.txt"},
        {"trip/two/README.txt", "trip/two", "trip/two/README.txt"},
        {"/etc/passwd", "etc", "etc/passwd"},
        {"../../up/x.txt", "up", "up/x.txt"},
        {"a/./b/../c.txt", "a/b", "a/b/c.txt"},
        {"a//b/c.txt", "a/b", "a/b/c.txt"},
        {"a<|>/b:c/d.txt", "a/bc", "a/bc/d.txt"},
        {"back\\slash/x", "backslash", "backslash/x"},  // no separator inside a step
        {"dir/", "dir", "dir/file"},
        {"ctl\x01/x", "ctl", "ctl/x"},
        {"<>/x", "", "x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(safe_folder_path(c.name), c.folders) << c.name;
        EXPECT_EQ(safe_relative_path(c.name), c.path) << c.name;
    }
}

TEST(SafeRelativePath, StaysWithinTheLimitsOfAPath) {
    // Eight folders of 38 characters: a path over 255 bytes arrives whole.
    std::string deep;
    for (int i = 0; i < 8; ++i) deep += std::string(37, static_cast<char>('a' + i)) + std::to_string(i) + "/";
    deep += "short.txt";
    ASSERT_GT(deep.size(), 255u);
    EXPECT_EQ(safe_relative_path(deep), deep);

    // A long step is cut like a name; a path over its limit drops its deepest folders.
    EXPECT_EQ(safe_folder_path(std::string(300, 'f') + "/x"), std::string(max_file_name_bytes, 'f'));
    std::string over;
    for (int i = 0; i < 40; ++i) over += std::string(150, 'd') + std::to_string(i % 10) + "/";
    const std::string kept = safe_relative_path(over + "name.txt");
    EXPECT_LE(kept.size(), max_relative_path_bytes);
    EXPECT_EQ(kept.substr(kept.size() - 9), "/name.txt");
    EXPECT_EQ(kept.substr(0, 152), over.substr(0, 152)) << "the first folders stay";
    for (const std::string& step : split(kept, "/")) EXPECT_LE(step.size(), 255u);
}

}  // namespace
}  // namespace vandrel
