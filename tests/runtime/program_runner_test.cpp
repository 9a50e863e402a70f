#include "MeskRuntimeComponent/program_runner.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>
#include <fstream>
#include <string>
#include <thread>

#include "tests/support/net_test_support.h"
#include "tests/support/stub_peer.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;

ProgramRun shell(const std::string& script, std::chrono::milliseconds limit = 30s) {
    ProgramRun run;
    run.argv = {"/bin/sh", "-c", script};
    run.time_limit = limit;
    return run;
}

TEST(RunProgram, GathersOutputErrorsAndTheExitCode) {
    const ProgramResult result = run_program(shell("echo out; echo err >&2; exit 3"));
    EXPECT_TRUE(result.ended);
    EXPECT_EQ(result.exit_code, 3);
    EXPECT_EQ(result.out, "out\n");
    EXPECT_EQ(result.err, "err\n");

    // A program ended by a signal.
    const ProgramResult killed = run_program(shell("kill -TERM $$"));
    EXPECT_TRUE(killed.ended);
    EXPECT_EQ(killed.exit_code, 128 + SIGTERM);
}

TEST(RunProgram, ArgumentsReachTheProgramAsTheyAre) {
    // No shell between: blanks, quotes and $ stay in their argument.
    ProgramRun run;
    run.argv = {"/usr/bin/printf", "%s|", "a b", "'q'", "$HOME", ";", "*"};
    const ProgramResult result = run_program(run);
    EXPECT_EQ(result.out, "a b|'q'|$HOME|;|*|");

    run.argv = {"printf", "relative"};
    EXPECT_FALSE(run_program(run).ended);
    run.argv = {"/no/such/program"};
    EXPECT_FALSE(run_program(run).ended);
}

TEST(RunProgram, SetsTheGivenEnvironmentOverOurs) {
    ProgramRun run = shell("echo \"$LC_ALL/$MESK_RUNNER_TEST/${HOME:+home}\"");
    run.environment = {"LC_ALL=C", "MESK_RUNNER_TEST=set"};
    EXPECT_EQ(run_program(run).out, "C/set/home\n");
}

TEST(RunProgram, AProgramPastItsLimitOrCancelledIsKilledWithItsChildren) {
    test::temp_folder folder;
    const std::string marker = folder.path() + "child-still-ran";
    // The child of the program would write the marker if it outlived the kill.
    const ProgramResult late = run_program(shell("(sleep 1; touch " + marker + ") & sleep 30", 200ms));
    EXPECT_FALSE(late.ended);

    std::atomic<bool> cancel{false};
    ProgramRun run = shell("sleep 30");
    run.cancel = &cancel;
    std::thread canceller([&] {
        std::this_thread::sleep_for(100ms);
        cancel = true;
    });
    const auto before = std::chrono::steady_clock::now();
    EXPECT_FALSE(run_program(run).ended);
    canceller.join();
    EXPECT_LT(std::chrono::steady_clock::now() - before, 25s);

    std::this_thread::sleep_for(2s);
    EXPECT_FALSE(std::ifstream(marker).good()) << "the program's child outlived it";
}

TEST(RunProgram, KeepsTheFirstMibOfALongOutput) {
    const ProgramResult result = run_program(shell("head -c 3000000 /dev/zero"));
    EXPECT_TRUE(result.ended);
    EXPECT_EQ(result.exit_code, 0);
    EXPECT_EQ(result.out.size(), 1u << 20);
}

TEST(HeldProgram, RunsUntilItsOwnerGoesThenSeesTheEndOfItsInput) {
    test::temp_folder folder;
    const std::string done = folder.path() + "done";
    {
        HeldProgram held({"/bin/sh", "-c", "cat; touch " + done});
        ASSERT_TRUE(held.started());
        std::this_thread::sleep_for(100ms);
        EXPECT_TRUE(held.running());
        EXPECT_FALSE(std::ifstream(done).good());
    }
    // Reaped by the destructor: the program ended and did its last step.
    EXPECT_TRUE(std::ifstream(done).good());

    // One that ends by itself reads as not running.
    HeldProgram quick({"/bin/sh", "-c", "exit 1"});
    EXPECT_TRUE(testing::wait_until([&] { return !quick.running(); }, 30s));
    HeldProgram missing({"/no/such/program"});
    EXPECT_FALSE(missing.started());
    EXPECT_FALSE(missing.running());
}

TEST(HeldProgram, OneThatIgnoresTheEndOfItsInputIsKilled) {
    const auto before = std::chrono::steady_clock::now();
    {
        HeldProgram stubborn({"/bin/sh", "-c", "trap '' TERM; sleep 30"}, 200ms);
        ASSERT_TRUE(stubborn.started());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - before, 25s);
}

}  // namespace
}  // namespace vandrel
