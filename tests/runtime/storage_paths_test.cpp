#include "MeskRuntimeComponent/storage_paths.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "tests/runtime/runtime_test_folder.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;
using testing::TestFolder;

// A granted folder with files at two depths, a folder outside it, and links that stay
// inside or lead out.
class StoragePathTest : public ::testing::Test {
protected:
    void SetUp() override {
        granted = root.make_folder("granted");
        root.write("granted/a.txt", "alpha");
        root.write("granted/sub/b.txt", "bravo!");
        root.write("granted/sub/deeper/c.txt", "c");
        root.write("outside/secret.txt", "secret");
        fs::create_symlink(root / "outside/secret.txt", root / "granted/link_out");
        fs::create_symlink(root / "granted/a.txt", root / "granted/link_in");
        fs::create_symlink(root / "outside", root / "granted/dir_out");
        fs::create_symlink(root / "nothing-here", root / "granted/dangling");
        root.make_folder("data");
        token = list.add(granted);
        ASSERT_FALSE(token.empty());
    }

    TestFolder root;
    std::string granted;
    FutureAccessList list{root / "data/access_list.json"};
    std::string token;
};

TEST_F(StoragePathTest, ResolvesExactlyTheNamedFileInsideTheGrantedFolder) {
    struct Case {
        std::string relid;
        std::string name;
        std::string resolved;  // relative to the granted folder; "" names nothing
        bool found;            // an existing regular file
    };
    const Case cases[] = {
        {"", "a.txt", "a.txt", true},
        {"sub", "b.txt", "sub/b.txt", true},
        {"sub/deeper", "c.txt", "sub/deeper/c.txt", true},
        {"", "b.txt", "b.txt", false},  // no search through subfolders
        {"", "new.txt", "new.txt", false},
        {"sub", "new.txt", "sub/new.txt", false},
        {"", "link_in", "a.txt", true},  // a link that stays inside
        {"", "sub", "sub", false},       // a folder is no file
        {"missing", "a.txt", "", false},
        {"..", "secret.txt", "", false},
        {"../outside", "secret.txt", "", false},
        {"sub/..", "a.txt", "", false},
        {"sub/../..", "outside", "", false},
        {".", "a.txt", "", false},
        {"sub/", "b.txt", "", false},
        {"sub//deeper", "c.txt", "", false},
        {"/etc", "passwd", "", false},
        {"", "/etc/passwd", "", false},
        {"", "../outside/secret.txt", "", false},
        {"", "sub/b.txt", "", false},
        {"", "..", "", false},
        {"", ".", "", false},
        {"", "", "", false},
        {"", std::string("a.txt\0x", 7), "", false},
        {"", "link_out", "", false},  // a link that leads out
        {"dir_out", "secret.txt", "", false},
        {"", "dangling", "", false},
    };
    for (const auto& c : cases) {
        const std::string path = make_storage_path({token, c.relid, c.name});
        const std::string expected = c.resolved.empty() ? "" : granted + "/" + c.resolved;
        EXPECT_EQ(resolve_storage_path(list, path), expected) << "relid '" << c.relid << "' name '" << c.name << "'";
        EXPECT_EQ(find_file_in_folder(list, path), c.found ? expected : "")
            << "relid '" << c.relid << "' name '" << c.name << "'";
    }
}

TEST_F(StoragePathTest, OnlyThreeFieldsAndAKnownTokenNameAFile) {
    for (const std::string& path :
         {token + "|a.txt", token + "|||a.txt", token + "||a.txt|x", std::string("a.txt"), std::string(""),
          std::string("0123456789abcdef0123456789abcdef||a.txt"), std::string("||a.txt")}) {
        EXPECT_EQ(resolve_storage_path(list, path), "") << path;
        EXPECT_EQ(find_file_in_folder(list, path), "") << path;
    }
    EXPECT_FALSE(parse_storage_path("a|b").has_value());
    const auto parsed = parse_storage_path("t|r/s|n.txt");
    ASSERT_TRUE(parsed.has_value());
    EXPECT_EQ(parsed->token, "t");
    EXPECT_EQ(parsed->relid, "r/s");
    EXPECT_EQ(parsed->name, "n.txt");
}

TEST_F(StoragePathTest, AGrantedFolderThatWentAwayNamesNothing) {
    fs::remove_all(granted);
    EXPECT_EQ(resolve_storage_path(list, token + "||a.txt"), "");
}

TEST_F(StoragePathTest, FileSizeOfTheNamedFileElseZero) {
    EXPECT_EQ(get_file_size(list, token + "|sub|b.txt"), 6u);
    EXPECT_EQ(get_file_size(list, ""), 0u);
    EXPECT_EQ(get_file_size(list, token + "||missing.txt"), 0u);
    EXPECT_EQ(get_file_size(list, token + "||link_out"), 0u);
}

TEST_F(StoragePathTest, StoragePathForAFileCarriesItsParentAsRelidAndResolvesBack) {
    const std::string deep = storage_path_for_file(list, granted, granted + "/sub/deeper/c.txt");
    EXPECT_EQ(deep, token + "|sub/deeper|c.txt");
    EXPECT_EQ(find_file_in_folder(list, deep), granted + "/sub/deeper/c.txt");
    EXPECT_EQ(storage_path_for_file(list, granted, granted + "/a.txt"), token + "||a.txt");

    EXPECT_EQ(storage_path_for_file(list, granted, root / "outside/secret.txt"), "");
    EXPECT_EQ(storage_path_for_file(list, granted, granted), "");
    EXPECT_EQ(storage_path_for_file(list, granted, granted + "/missing.txt"), "");

    // A backslash belongs to the name: that file, never "b.txt" in "sub".
    root.write("granted/sub\\b.txt", "backslash");
    const std::string backslash = storage_path_for_file(list, granted, granted + "/sub\\b.txt");
    EXPECT_EQ(backslash, token + "||sub\\b.txt");
    EXPECT_EQ(find_file_in_folder(list, backslash), granted + "/sub\\b.txt");

    // A folder picked for the first time gets its own token.
    const std::string sub_path = storage_path_for_file(list, granted + "/sub", granted + "/sub/b.txt");
    const auto parsed = parse_storage_path(sub_path);
    ASSERT_TRUE(parsed.has_value());
    EXPECT_NE(parsed->token, token);
    EXPECT_EQ(parsed->relid, "");
    EXPECT_EQ(find_file_in_folder(list, sub_path), granted + "/sub/b.txt");
}

class DownloadTargetTest : public StoragePathTest {
protected:
    std::string folder_of_target(const std::string& target) {
        const auto parsed = parse_storage_path(target);
        if (!parsed) return "bad target " + target;
        const auto folder = list.folder_for(parsed->token);
        return folder ? *folder : "unknown token";
    }
};

TEST_F(DownloadTargetTest, TheFolderFollowsTheMimeCategoryAndTheNameIsTheSafeName) {
    const DownloadFolders folders{root.make_folder("Pictures"), root.make_folder("Music"), root.make_folder("Videos"),
                                  root.make_folder("Downloads")};
    struct Case {
        std::string name;
        std::string folder;
        std::string relid;  // the received folders, kept under the folder
        std::string file;
    };
    const Case cases[] = {
        {"holiday/IMG_0001.jpg", folders.pictures, "holiday", "IMG_0001.jpg"},
        {"song.mp3", folders.music, "", "song.mp3"},
        {"clip.mp4", folders.videos, "", "clip.mp4"},
        {"report.pdf", folders.others, "", "report.pdf"},
        {"../../.profile", folders.others, "", ".profile"},
        {"/abs/../a:b/c.txt", folders.others, "abs/ab", "c.txt"},
        {"no extension", folders.others, "", "no extension"},
        {"", folders.others, "", "file"},
    };
    for (const auto& c : cases) {
        const std::string target = download_target_for_file(list, folders, c.name);
        EXPECT_EQ(folder_of_target(target), c.folder) << c.name;
        EXPECT_EQ(parse_storage_path(target).value_or(StoragePath{}).relid, c.relid) << c.name;
        EXPECT_EQ(parse_storage_path(target).value_or(StoragePath{}).name, c.file) << c.name;
        const std::string parent = c.folder + (c.relid.empty() ? "" : "/" + c.relid);
        std::filesystem::create_directories(parent);
        EXPECT_EQ(resolve_storage_path(list, target), parent + "/" + c.file) << c.name;
    }
    // The same folder keeps one token, however many files go there.
    EXPECT_EQ(parse_storage_path(download_target_for_file(list, folders, "x.png"))->token,
              parse_storage_path(download_target_for_file(list, folders, "y.gif"))->token);
}

TEST_F(DownloadTargetTest, NoOthersFolderGivesNoTargetForOtherFiles) {
    const DownloadFolders folders{root.make_folder("Pictures"), "", "", ""};
    EXPECT_EQ(download_target_for_file(list, folders, "report.pdf"), "");
    EXPECT_NE(download_target_for_file(list, folders, "photo.png"), "");
}

TEST_F(DownloadTargetTest, OthersFolderIsTheGrantedTokenElseTheFallback) {
    const std::string chosen = root.make_folder("chosen");
    const std::string chosen_token = list.add(chosen);
    const std::string downloads = root.make_folder("Downloads");
    EXPECT_EQ(others_folder(list, chosen_token, downloads), chosen);
    EXPECT_EQ(others_folder(list, "", downloads), downloads);
    EXPECT_EQ(others_folder(list, "0123456789abcdef0123456789abcdef", downloads), downloads);
    fs::remove(chosen);
    EXPECT_EQ(others_folder(list, chosen_token, downloads), downloads);
}

}  // namespace
}  // namespace vandrel
