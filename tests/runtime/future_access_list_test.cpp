#include "MeskRuntimeComponent/future_access_list.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <thread>

#include "tests/runtime/runtime_test_folder.h"

namespace vandrel {
namespace {

namespace fs = std::filesystem;
using testing::TestFolder;

class FutureAccessListTest : public ::testing::Test {
protected:
    TestFolder root;
    const std::string file = root / "access_list.json";
    const std::string music = root.make_folder("Music");
    const std::string work = root.make_folder("work");
};

TEST_F(FutureAccessListTest, AFolderAddedTwiceKeepsOneToken) {
    FutureAccessList list(file);
    const std::string token = list.add(music);
    EXPECT_TRUE(is_access_token(token)) << token;
    EXPECT_EQ(list.add(music), token);
    EXPECT_EQ(list.add(music + "/"), token);
    EXPECT_EQ(list.add(root / "work/../Music"), token);
    fs::create_symlink(music, root / "music-link");
    EXPECT_EQ(list.add(root / "music-link"), token);
    EXPECT_EQ(list.entries().size(), 1u);

    const std::string other = list.add(work);
    EXPECT_NE(other, token);
    EXPECT_EQ(list.folder_for(token), music);
    EXPECT_EQ(list.folder_for(other), work);
    EXPECT_FALSE(list.contains("0123456789abcdef0123456789abcdef"));
}

TEST_F(FutureAccessListTest, OnlyExistingFoldersGetATokenAndTheFileIsUntouchedOtherwise) {
    FutureAccessList list(file);
    const std::string plain_file = root.write("plain.txt", "x");
    EXPECT_EQ(list.add(root / "missing"), "");
    EXPECT_EQ(list.add(plain_file), "");
    EXPECT_EQ(list.add("relative/folder"), "");
    EXPECT_EQ(list.add(""), "");
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(FutureAccessListTest, TokensAndTheAcceptedMarkSurviveAReload) {
    std::string music_token, work_token;
    {
        FutureAccessList list(file);
        music_token = list.add(music);
        work_token = list.add(work, true);
        // Marking an existing entry accepted keeps its token.
        EXPECT_EQ(list.add(music, true), music_token);
    }
    EXPECT_FALSE(fs::exists(file + ".tmp"));
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);

    FutureAccessList reloaded(file);
    EXPECT_EQ(reloaded.folder_for(music_token), music);
    EXPECT_EQ(reloaded.folder_for(work_token), work);
    EXPECT_EQ(reloaded.add(music), music_token);
    // Accepted folders keep the order in which they were first added.
    EXPECT_EQ(reloaded.accepted_folders(), (std::vector<std::string>{music, work}));
    // Never unmarked by a plain add.
    reloaded.add(work);
    EXPECT_EQ(FutureAccessList(file).accepted_folders().size(), 2u);
}

TEST_F(FutureAccessListTest, ADamagedFileReadsAsEmptyAndIsReplacedByTheNextChange) {
    for (const std::string& damaged :
         {std::string("{\"folders\": [{\"token\": "), std::string("[]"), std::string("\x01\x02garbage")}) {
        root.write("access_list.json", damaged);
        ::testing::internal::CaptureStderr();
        FutureAccessList list(file);
        ::testing::internal::GetCapturedStderr();
        EXPECT_TRUE(list.entries().empty()) << damaged;
        const std::string token = list.add(music);
        ASSERT_FALSE(token.empty());
        EXPECT_EQ(FutureAccessList(file).folder_for(token), music);
    }
}

TEST_F(FutureAccessListTest, DamagedEntriesAreSkippedAndTheRestKept) {
    const std::string good = "0123456789abcdef0123456789abcdef";
    root.write("access_list.json", "{\"folders\": [{\"token\": \"" + good + "\", \"folder\": \"" + music +
                                       "\"},"
                                       " {\"token\": \"x|y\", \"folder\": \"" +
                                       work +
                                       "\"},"
                                       " {\"token\": \"fedcba9876543210fedcba9876543210\", \"folder\": \"relative\"},"
                                       " {\"token\": \"" +
                                       good + "\", \"folder\": \"" + work + "\"}]}");
    ::testing::internal::CaptureStderr();
    FutureAccessList list(file);
    ::testing::internal::GetCapturedStderr();
    ASSERT_EQ(list.entries().size(), 1u);
    EXPECT_EQ(list.folder_for(good), music);
}

TEST_F(FutureAccessListTest, ConcurrentAddsOfOneFolderAgreeOnItsToken) {
    FutureAccessList list(file);
    std::vector<std::string> tokens(8);
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < tokens.size(); ++i)
        threads.emplace_back([&, i] { tokens[i] = list.add(i % 2 ? music : work); });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(std::set<std::string>(tokens.begin(), tokens.end()).size(), 2u);
    EXPECT_EQ(FutureAccessList(file).entries().size(), 2u);
}

}  // namespace
}  // namespace vandrel
