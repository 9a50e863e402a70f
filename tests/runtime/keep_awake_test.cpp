#include "MeskRuntimeComponent/keep_awake.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "MeskRuntimeComponent/program_launcher.h"
#include "tests/support/standin_programs.h"
#include "tests/support/stub_peer.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::StandinInhibitor;

std::string system_path() {
    const char* path = std::getenv("PATH");
    return path ? path : "/usr/bin:/bin";
}

TEST(KeepAwake, HoldsAnIdleInhibitorForItsLifeAndReleasesIt) {
    StandinInhibitor inhibitor;
    // Any file stands in for the system bus's socket.
    auto awake = std::make_unique<KeepAwake>(inhibitor.folder() + ":" + system_path(), inhibitor.program());
    ASSERT_TRUE(inhibitor.wait_for("held", 30s));
    EXPECT_TRUE(awake->Held());
    const std::vector<std::string> record = inhibitor.record();
    ASSERT_FALSE(record.empty());
    EXPECT_EQ(record[0], "--what=idle --who=mesk --why=Sharing files with nearby devices --mode=block " +
                             find_program_in_path("cat", system_path()));
    EXPECT_EQ(inhibitor.record().back(), "held");

    awake.reset();
    EXPECT_TRUE(inhibitor.wait_for("released", 30s));
}

TEST(KeepAwake, HoldsNothingWhereTheSessionOffersNone) {
    // No logind: systemd-inhibit says so and ends.
    StandinInhibitor refusing(true);
    KeepAwake refused(refusing.folder() + ":" + system_path(), refusing.program());
    EXPECT_TRUE(testing::wait_until([&] { return !refused.Held(); }, 30s));
    EXPECT_EQ(refusing.record().size(), 1u);

    // No system bus: systemd-inhibit is not even asked.
    StandinInhibitor unasked;
    KeepAwake no_bus(unasked.folder() + ":" + system_path(), unasked.folder() + "no-such-socket");
    EXPECT_FALSE(no_bus.Held());
    EXPECT_TRUE(unasked.record().empty());

    // No systemd-inhibit at all.
    test::temp_folder empty;
    KeepAwake absent(empty.path(), "");
    EXPECT_FALSE(absent.Held());
}

}  // namespace
}  // namespace vandrel
