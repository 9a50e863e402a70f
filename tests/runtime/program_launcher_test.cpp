#include "MeskRuntimeComponent/program_launcher.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "tests/runtime/runtime_test_folder.h"

namespace vandrel {
namespace {

using testing::TestFolder;

TEST(ProgramLauncher, FindsOnlyExecutableFilesOnAbsolutePathEntries) {
    TestFolder root;
    const std::string tool = root.write("bin/tool", "#!/bin/sh\n");
    chmod(tool.c_str(), 0755);
    root.write("plain/tool", "not executable");
    root.make_folder("dir/tool");
    const std::string path = root / "plain" + ":" + root / "dir" + "::relative:" + root / "bin";
    EXPECT_EQ(find_program_in_path("tool", path), tool);
    EXPECT_EQ(find_program_in_path("tool", root / "plain"), "");
    EXPECT_EQ(find_program_in_path("missing", path), "");
    EXPECT_EQ(find_program_in_path("bin/tool", root.path()), "");
    EXPECT_EQ(find_program_in_path("", path), "");
}

TEST(ProgramLauncher, StartsAProgramDetachedWithItsInputAndNoShell) {
    const char* path = std::getenv("PATH");
    const std::string tee = find_program_in_path("tee", path ? path : "/usr/bin:/bin");
    if (tee.empty()) GTEST_SKIP() << "no tee on this machine";
    TestFolder root;
    // A shell would expand this name; the program must get it literally.
    const std::string target = root / "out $(echo no) *.txt";
    ASSERT_TRUE(start_detached({tee, target}, "text handed over\n"));
    std::string content;
    for (int i = 0; i < 200 && content != "text handed over\n"; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        content = testing::read_file(target);
    }
    EXPECT_EQ(content, "text handed over\n");
}

TEST(ProgramLauncher, RefusesWhatIsNoAbsoluteProgram) {
    EXPECT_FALSE(start_detached({}, ""));
    EXPECT_FALSE(start_detached({"tee"}, ""));
}

}  // namespace
}  // namespace vandrel
