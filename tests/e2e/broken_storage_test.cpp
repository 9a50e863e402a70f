// The whole program started on storage it cannot use as it is: a database and a
// certificate that are garbage, a database another program holds locked, a data folder
// that cannot be written. Each time the interface hears "storage_problem" saying what
// is wrong and what was done, the program starts and answers, and nothing stored is
// lost: a damaged file is kept aside, a locked or unwritable one is left as it was and
// used once it can be (a locked one while the program runs, on the program's next start
// for a folder that was read-only).
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/e2e/mesk_session.h"
#include "tests/e2e/netns_harness.h"
#include "tests/e2e/network_fixture.h"
#include "tests/e2e/transfer_harness.h"
#include "tests/support/child_process.h"
#include "tests/support/test_files.h"
#include "tests/support/test_mounts.h"

using vandrel::Json;
using namespace vandrel::testing;
using namespace std::chrono_literals;

namespace {

class BrokenStorage : public NetworkFixture<2> {
protected:
    void SetUp() override {
        NetworkFixture::SetUp();
        if (IsSkipped()) return;
        // A first run makes the database and the certificate.
        auto first = start_mesk_session(*net_, device());
        ASSERT_TRUE(first) << "mesk did not start";
        id_ = first->id();
        ASSERT_TRUE(first->quit());
    }

    // Starts mesk again; "event core_started" is left for started().
    std::unique_ptr<MeskSession> start() { return std::make_unique<MeskSession>(net_->start(device(), {MESK_BINARY})); }

    const TestDevice& device() const { return net_->device(0); }
    std::string data(const std::string& name) const { return device().data_folder() + name; }

    std::string id_;
};

TEST_F(BrokenStorage, GarbageDatabaseAndCertificateAreKeptAsideAndMadeAnew) {
    std::string garbage;
    for (int i = 0; i < 400; ++i) garbage += "not a database, not a certificate; ";
    write_file(data("app.db"), garbage);
    std::filesystem::remove(data("app.db-wal"));
    std::filesystem::remove(data("app.db-shm"));
    write_file(data("vandrel.pem"), garbage);

    auto mesk = start();
    const Json database =
        mesk->event("storage_problem", 60s, [&](const Json& e) { return e["path"].string_value() == data("app.db"); });
    ASSERT_FALSE(database.is_null()) << "the damaged database was not reported";
    const Json certificate = mesk->event(
        "storage_problem", 60s, [&](const Json& e) { return e["path"].string_value() == data("vandrel.pem"); });
    ASSERT_FALSE(certificate.is_null()) << "the damaged certificate was not reported";
    ASSERT_TRUE(mesk->started());

    const auto databases = names_starting_with(device().data_folder(), "app.db.damaged-");
    ASSERT_EQ(databases.size(), 1u);
    EXPECT_EQ(read_file(data(databases[0])), garbage);
    EXPECT_NE(database["message"].string_value().find(databases[0]), std::string::npos) << database.dump();
    const auto certificates = names_starting_with(device().data_folder(), "vandrel.pem.damaged-");
    ASSERT_EQ(certificates.size(), 1u);
    EXPECT_EQ(read_file(data(certificates[0])), garbage);
    EXPECT_NE(certificate["message"].string_value().find("with the same key"), std::string::npos) << certificate.dump();

    // A new device of its own, reachable over the new certificate.
    EXPECT_NE(mesk->id(), id_);
    auto other = start_mesk_session(*net_, net_->device(1));
    ASSERT_TRUE(other);
    EXPECT_TRUE(other->lists({{mesk->id(), device().address}}, std::chrono::steady_clock::now() + 60s));
    EXPECT_TRUE(mesk->lists({{other->id(), net_->device(1).address}}, std::chrono::steady_clock::now() + 60s));
}

TEST_F(BrokenStorage, ADatabaseLockedByAnotherProgramIsUsedOnceFree) {
    ChildProcess locker({MESK_DB_LOCKER_BINARY, data("app.db")}, environment_with({}));
    ASSERT_TRUE(locker.wait_for_line("locked", 10s));

    auto mesk = start();
    const Json problem = mesk->event("storage_problem", 60s);
    ASSERT_FALSE(problem.is_null()) << "the locked database was not reported";
    EXPECT_EQ(problem["path"].string_value(), data("app.db"));
    EXPECT_NE(problem["message"].string_value().find("another program holds it locked"), std::string::npos)
        << problem.dump();
    ASSERT_TRUE(mesk->started(120s));
    EXPECT_EQ(mesk->request("/hello_world", "{}")["status"].string_value(), "success");
    EXPECT_EQ(mesk->request("/who_am_i", "{}")["error_code"].string_value(), "internal_error");

    locker.close_input();
    ASSERT_TRUE(locker.wait_exit(10s));
    EXPECT_EQ(mesk->request("/who_am_i", "{}")["device_id"].string_value(), id_) << "the device lost its id";
    EXPECT_TRUE(names_starting_with(device().data_folder(), "app.db.damaged-").empty());
}

TEST_F(BrokenStorage, ADataFolderThatCannotBeWrittenIsReportedAndUsedOnceItCan) {
    auto read_only = test_mount::read_only(device().data_folder());
    if (!read_only.mount_error().empty()) GTEST_SKIP() << "skipped: " << read_only.mount_error();

    auto mesk = start();
    const Json problem = mesk->event("storage_problem", 60s);
    ASSERT_FALSE(problem.is_null()) << "the read-only data folder was not reported";
    EXPECT_NE(problem["message"].string_value().find("cannot be written: Read-only file system"), std::string::npos)
        << problem.dump();
    ASSERT_TRUE(mesk->started());
    EXPECT_EQ(mesk->request("/hello_world", "{}")["status"].string_value(), "success");

    EXPECT_EQ(mesk->request("/who_am_i", "{}")["error_code"].string_value(), "internal_error");
    ASSERT_TRUE(mesk->quit());

    // The program's own view of the mounts is its own: the next start sees the folder
    // writable again.
    read_only.unmount();
    mesk = start();
    ASSERT_TRUE(mesk->started());
    EXPECT_EQ(mesk->request("/who_am_i", "{}")["device_id"].string_value(), id_) << "the device lost its id";
    EXPECT_TRUE(mesk->events_within("storage_problem", 0ms).empty());
}

}  // namespace
