// The soak: three devices chat and offer files for MESK_SOAK_MINUTES minutes while their
// programs are killed, paused (SIGSTOP/SIGCONT, some longer than a download waits) and
// quit and started again at moments drawn from MESK_SOAK_SEED; device 0 is only ever
// paused, so its figures span the run. Resident memory and descriptors of each program
// are printed every minute; at the end nothing may be lost (the checks of
// fault_workload.h) and device 0 may not have grown. Long: bench/soak.sh runs it, the
// test command skips it.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>
#include <iostream>

#include "tests/e2e/fault_workload.h"
#include "tests/e2e/netns_harness.h"

using namespace vandrel::testing;
using namespace std::chrono_literals;

namespace {

class EveryLine : public std::streambuf {
    // Each line reaches the terminal as it is written: a soak is watched as it runs.
    int overflow(int c) override {
        if (c != EOF) std::cout.put(static_cast<char>(c));
        if (c == '\n') std::cout.flush();
        return c;
    }
};

TEST(Soak, ThreeDevicesUnderKillsPausesAndRestartsLoseNothingAndStayFlat) {
    const char* minutes = std::getenv("MESK_SOAK_MINUTES");
    if (minutes == nullptr) GTEST_SKIP() << "skipped: a long run; bench/soak.sh runs it (MESK_SOAK_MINUTES)";
    signal(SIGPIPE, SIG_IGN);
    const std::string why = TestNetwork::unavailable_reason();
    if (!why.empty()) GTEST_SKIP() << "skipped: " << why;

    const long length = std::max(1L, std::atol(minutes));
    const char* seed = std::getenv("MESK_SOAK_SEED");
    workload_settings settings;
    settings.seed = seed != nullptr ? std::strtoull(seed, nullptr, 10) : 1;
    settings.active = std::chrono::minutes(length);
    settings.kills = static_cast<int>(length * 3 / 2);
    settings.pauses = static_cast<int>(length);
    settings.quits = static_cast<int>(length / 2);
    settings.spared = 1;
    settings.files_per_device = static_cast<int>(length * 2);
    settings.largest_file = 24u << 20;
    settings.pace = 1000ms;
    settings.resend_every = 30s;
    settings.report_every = 60s;
    settings.settle = 300s;

    const TestNetwork net(3);
    EveryLine lines;
    std::ostream log(&lines);
    const std::vector<std::string> faults = run_fault_workload(net, settings, log);
    std::cout << "soak seed " << settings.seed << ", " << length << " minutes: " << (faults.empty() ? "ok" : "FAILED")
              << std::endl;
    for (const std::string& fault : faults) ADD_FAILURE() << fault;
}

}  // namespace
