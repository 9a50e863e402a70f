// Three devices chat and offer files to each other while their programs are killed
// (SIGKILL) at moments drawn from a seed; after each kill and at the end the stores
// pass their integrity check, files reported complete equal their sources, every file
// completes, every confirmed chat arrives once and no partial file is left (see
// fault_workload.h). Each seed is one test; MESK_KILL_SEEDS ("1 2") replaces the seeds,
// MESK_KILL_ACTIVE_MS the time the work and the kills go on, MESK_KILL_COUNT the kills
// (bench/kill_suite.sh runs many seeds).
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <iostream>
#include <sstream>

#include "tests/e2e/fault_workload.h"
#include "tests/e2e/netns_harness.h"
#include "tests/support/test_files.h"

using namespace vandrel::testing;
using namespace std::chrono_literals;

namespace {

std::vector<std::uint64_t> kill_seeds() { return seeds_from_env("MESK_KILL_SEEDS", "1 2"); }

class KillSuite : public ::testing::TestWithParam<std::uint64_t> {
protected:
    void SetUp() override {
        signal(SIGPIPE, SIG_IGN);
        const std::string why = TestNetwork::unavailable_reason();
        if (!why.empty()) GTEST_SKIP() << "skipped: " << why;
    }
};

TEST_P(KillSuite, DevicesKilledAtRandomMomentsLoseNoChatAndFinishEveryFileIntact) {
    workload_settings settings;
    settings.seed = GetParam();
    const char* active = std::getenv("MESK_KILL_ACTIVE_MS");
    settings.active = std::chrono::milliseconds(active != nullptr ? std::atol(active) : 8000);
    const char* kills = std::getenv("MESK_KILL_COUNT");
    settings.kills = kills != nullptr ? std::atoi(kills) : 3;
    const TestNetwork net(3);
    std::ostringstream log;
    const std::vector<std::string> faults = run_fault_workload(net, settings, log);
    std::cout << log.str();
    std::cout << "kill suite seed " << settings.seed << ": " << (faults.empty() ? "ok" : "FAILED") << "\n";
    for (const std::string& fault : faults) ADD_FAILURE() << "seed " << settings.seed << ": " << fault;
}

INSTANTIATE_TEST_SUITE_P(Seeds, KillSuite, ::testing::ValuesIn(kill_seeds()));

}  // namespace
