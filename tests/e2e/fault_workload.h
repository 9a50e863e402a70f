// Three devices of the test network that chat and offer files to each other while a
// schedule drawn from a seed kills (SIGKILL), pauses (SIGSTOP/SIGCONT) and restarts
// their programs; then every program runs until the work is done, and it is checked:
// each store passes "PRAGMA integrity_check" after each kill and at the end and keeps
// its device id, every file reported complete equals its source (SHA-256), every
// offered file completes (the sender's "/resend" is what a user presses for a file that
// ended in an error) and its sender's store shows it sent whole, every chat the
// interface had confirmed arrives once, is marked sent and reaches the receiver's
// interface once, and no partial file is left. The kill suite and the soak drive it.
#pragma once

#include <chrono>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "tests/e2e/netns_harness.h"

namespace vandrel::testing {

struct workload_settings {
    std::uint64_t seed = 1;
    // How long chats, offers and faults go on.
    std::chrono::milliseconds active{10000};
    // Faults in that time, at moments drawn from the seed.
    int kills = 2;
    int pauses = 0;
    int quits = 0;  // ":quit" and a start again
    // Devices that are only ever paused, never killed or quit (their figures span the run).
    int spared = 0;
    // Files offered: each device has this many, the largest at most this big.
    int files_per_device = 6;
    std::uint64_t largest_file = 16u << 20;
    // What leaves each device, in tc's words, so that files are in flight when a kill comes.
    std::string rate = "40mbit";
    // The time given to finish everything after the active period.
    std::chrono::milliseconds settle{180000};
    // The pause between two actions (a chat typed, a file offered) is drawn up to this.
    std::chrono::milliseconds pace{250};
    // How often files that ended in an error are sent again ("/resend") while the work
    // goes on (0: only once it ended).
    std::chrono::milliseconds resend_every{0};
    // Resident memory and descriptors of each program printed this often (0: never);
    // the growth of the devices that are never killed is then checked at the end.
    std::chrono::milliseconds report_every{0};
};

// Runs the workload on the network's first three devices; each line of what happened
// goes to `log`. The faults found, one line each; none when every check held.
std::vector<std::string> run_fault_workload(const TestNetwork& net, const workload_settings& settings,
                                            std::ostream& log);

}  // namespace vandrel::testing
