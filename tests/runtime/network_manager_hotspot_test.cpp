#include "MeskRuntimeComponent/network_manager_hotspot.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "MeskRuntimeComponent/program_launcher.h"
#include "tests/support/standin_programs.h"
#include "tests/support/stub_peer.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using testing::StandinNmcli;
using testing::wait_until;

struct Report {
    PublisherStatus status;
    PublisherError error;
    bool operator==(const Report&) const = default;
};

// What one Start's handlers were told.
class Reports {
public:
    HotspotBackend::StatusHandler status_handler() {
        return [this](PublisherStatus status, PublisherError error) {
            std::lock_guard<std::mutex> lock(mutex_);
            statuses_.push_back({status, error});
        };
    }
    HotspotBackend::ClientHandler client_handler() {
        return [this](const HotspotClient& client) {
            std::lock_guard<std::mutex> lock(mutex_);
            clients_.push_back(client);
        };
    }
    std::vector<Report> statuses() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return statuses_;
    }
    std::vector<HotspotClient> clients() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return clients_;
    }
    bool wait_for(std::size_t count) const {
        return wait_until([&] { return statuses().size() >= count; }, 30s);
    }

private:
    mutable std::mutex mutex_;
    std::vector<Report> statuses_;
    std::vector<HotspotClient> clients_;
};

constexpr Report created{PublisherStatus::Created, PublisherError::Success};
constexpr Report started{PublisherStatus::Started, PublisherError::Success};
constexpr Report stopped{PublisherStatus::Stopped, PublisherError::Success};

const char* const device_status_call = "-t -f DEVICE,TYPE,STATE,CONNECTION device status";
const char* const state_call_prefix = "-t -f GENERAL.STATE,GENERAL.CONNECTION device show";

// wlan0 cannot act as an access point; wlan1 can and is free.
void two_wifi_devices(StandinNmcli& nm) {
    nm.set_devices(
        {"eth0:ethernet:connected:Wired connection 1", "wlan0:wifi:disconnected:", "wlan1:wifi:disconnected:"});
    nm.set_access_points({"wlan1"});
    nm.set_device_state("wlan1", "30 (disconnected)", "");
}

NetworkManagerConfig config_for(const StandinNmcli& nm) {
    NetworkManagerConfig made;
    made.nmcli = nm.program();
    made.leases_folder = nm.leases_folder();
    // The stand-in's devices are not this machine's.
    made.interface_present = [](const std::string&) { return true; };
    made.poll_interval = 20ms;
    made.feature_cache = 0ms;
    return made;
}

// A backend whose hotspot runs on wlan1.
std::unique_ptr<NetworkManagerHotspotBackend> running_on(const StandinNmcli& nm, Reports& reports) {
    auto backend = std::make_unique<NetworkManagerHotspotBackend>(config_for(nm));
    backend->Start("MeskWiFi-x", "k3ykeykeykey", reports.status_handler(), reports.client_handler());
    EXPECT_TRUE(reports.wait_for(2));
    EXPECT_EQ(reports.statuses(), (std::vector<Report>{created, started}));
    return backend;
}

class NetworkManagerHotspot : public ::testing::Test {
protected:
    NetworkManagerHotspot() { two_wifi_devices(nm); }

    NetworkManagerConfig config() const { return config_for(nm); }

    // Calls other than the looks at a running hotspot's device.
    std::vector<std::string> calls_besides_looks() const {
        std::vector<std::string> kept;
        for (auto& call : nm.calls()) {
            if (call.rfind(state_call_prefix, 0) != 0) kept.push_back(std::move(call));
        }
        return kept;
    }

    StandinNmcli nm;
};
TEST_F(NetworkManagerHotspot, StartsOnAFreeAccessPointDeviceAndStopsWithTheseCalls) {
    NetworkManagerHotspotBackend backend(config());
    EXPECT_TRUE(backend.HasFeature());
    EXPECT_FALSE(backend.HasPublisher());
    backend.Stop();  // before any start: nothing

    Reports reports;
    backend.Start("MeskWiFi-x", "k3ykeykeykey", reports.status_handler(), reports.client_handler());
    ASSERT_TRUE(reports.wait_for(2));
    EXPECT_EQ(reports.statuses(), (std::vector<Report>{created, started}));
    EXPECT_EQ(backend.Status(), PublisherStatus::Started);

    backend.Stop();
    ASSERT_TRUE(reports.wait_for(3));
    EXPECT_EQ(reports.statuses().back(), stopped);
    EXPECT_EQ(backend.Status(), PublisherStatus::Stopped);
    // A stopped hotspot is stopped once.
    backend.Stop();

    const std::vector<std::string> probe = {
        device_status_call,
        "-t -f WIFI-PROPERTIES.AP device show wlan0",
        "-t -f WIFI-PROPERTIES.AP device show wlan1",
    };
    std::vector<std::string> expected = probe;  // HasFeature
    expected.insert(expected.end(), probe.begin(), probe.end());
    expected.insert(expected.end(),
                    {"connection delete mesk-hotspot",
                     "connection add save no type wifi ifname wlan1 con-name mesk-hotspot autoconnect no "
                     "ssid MeskWiFi-x 802-11-wireless.mode ap 802-11-wireless.band bg ipv4.method shared "
                     "ipv4.addresses 192.168.137.1/24 ipv6.method ignore wifi-sec.key-mgmt wpa-psk "
                     "wifi-sec.proto rsn wifi-sec.pairwise ccmp wifi-sec.group ccmp wifi-sec.pmf disable "
                     "wifi-sec.psk k3ykeykeykey",
                     "--wait 60 connection up mesk-hotspot", "connection down mesk-hotspot"});
    EXPECT_EQ(calls_besides_looks(), expected);
}

TEST(NetworkManagerHotspotWatch, ReportsWhatBecomesOfTheDevice) {
    using S = PublisherStatus;
    using E = PublisherError;
    const struct {
        const char* what;
        std::function<void(StandinNmcli&)> happen;
        Report report;
    } cases[] = {
        {"radio switched off",
         [](StandinNmcli& nm) { nm.set_device_state("wlan1", "20 (unavailable)", ""); },
         {S::Aborted, E::RadioNotAvailable}},
        {"taken by another connection",
         [](StandinNmcli& nm) { nm.set_device_state("wlan1", "100 (connected)", "Home"); },
         {S::Aborted, E::ResourceInUse}},
        {"let go outside mesk",
         [](StandinNmcli& nm) { nm.set_device_state("wlan1", "30 (disconnected)", ""); },
         {S::Stopped, E::Success}},
        {"device unplugged", [](StandinNmcli& nm) { nm.remove_device("wlan1"); }, {S::Aborted, E::RadioNotAvailable}},
        {"NetworkManager ended", [](StandinNmcli& nm) { nm.set_running(false); }, {S::Aborted, E::Other}},
    };
    for (const auto& c : cases) {
        StandinNmcli standin;
        two_wifi_devices(standin);
        Reports reports;
        auto backend = running_on(standin, reports);
        // The hotspot is looked at while it runs, and nothing changes while it does.
        const std::size_t looks = standin.count(state_call_prefix);
        ASSERT_TRUE(wait_until([&] { return standin.count(state_call_prefix) >= looks + 3; }, 30s)) << c.what;
        EXPECT_EQ(reports.statuses().size(), 2u) << c.what;

        c.happen(standin);
        ASSERT_TRUE(reports.wait_for(3)) << c.what;
        EXPECT_EQ(reports.statuses().back(), c.report) << c.what;
        EXPECT_EQ(reports.statuses().size(), 3u) << c.what;
        EXPECT_EQ(backend->Status(), c.report.status) << c.what;
    }
}

TEST_F(NetworkManagerHotspot, ReportsEachDeviceThatJoinsOnce) {
    // A lease from an earlier run is no news.
    nm.set_leases("wlan1", {"1700000000 aa:bb:cc:dd:ee:01 192.168.137.20 old-phone *"});
    Reports reports;
    auto backend = running_on(nm, reports);

    nm.set_leases("wlan1", {"1700000000 aa:bb:cc:dd:ee:01 192.168.137.20 old-phone *",
                            "1700000300 aa:bb:cc:dd:ee:02 192.168.137.23 phone 01:aa:bb:cc:dd:ee:02"});
    ASSERT_TRUE(wait_until([&] { return !reports.clients().empty(); }, 30s));
    // Several looks later the same lease is still told once.
    const std::size_t looks = nm.count(state_call_prefix);
    ASSERT_TRUE(wait_until([&] { return nm.count(state_call_prefix) >= looks + 3; }, 30s));
    const std::vector<HotspotClient> joined = reports.clients();
    ASSERT_EQ(joined.size(), 1u);
    EXPECT_EQ(joined[0].hardware_address, "aa:bb:cc:dd:ee:02");
    EXPECT_EQ(joined[0].address, "192.168.137.23");
    EXPECT_EQ(joined[0].name, "phone");
    EXPECT_EQ(reports.statuses().size(), 2u);
}

TEST(NetworkManagerWithoutAHotspot, NoFeatureAndAStartAbortsWithoutTouchingAnyDevice) {
    const struct {
        const char* what;
        std::function<void(StandinNmcli&)> set_up;
        bool present;  // the devices are this process's own
        bool feature;
        PublisherError error;
    } cases[] = {
        {"NetworkManager not running", [](StandinNmcli& nm) { nm.set_running(false); }, true, false,
         PublisherError::Other},
        {"no Wi-Fi device", [](StandinNmcli& nm) { nm.set_devices({"eth0:ethernet:connected:Wired"}); }, true, false,
         PublisherError::Other},
        {"no device that can act as an access point", [](StandinNmcli& nm) { nm.set_access_points({}); }, true, false,
         PublisherError::Other},
        {"a device outside this network namespace", [](StandinNmcli&) {}, false, false, PublisherError::Other},
        {"the only one connected elsewhere",
         [](StandinNmcli& nm) {
             nm.set_devices({"wlan1:wifi:connected:Home"});
             nm.set_device_state("wlan1", "100 (connected)", "Home");
         },
         true, true, PublisherError::ResourceInUse},
        {"its radio off", [](StandinNmcli& nm) { nm.set_devices({"wlan1:wifi:unavailable:"}); }, true, true,
         PublisherError::RadioNotAvailable},
    };
    for (const auto& c : cases) {
        StandinNmcli nm;
        two_wifi_devices(nm);
        c.set_up(nm);
        NetworkManagerConfig config = config_for(nm);
        config.interface_present = [&c](const std::string&) { return c.present; };
        NetworkManagerHotspotBackend backend(config);
        EXPECT_EQ(backend.HasFeature(), c.feature) << c.what;

        Reports reports;
        backend.Start("MeskWiFi-x", "k3ykeykeykey", reports.status_handler(), reports.client_handler());
        ASSERT_TRUE(reports.wait_for(1)) << c.what;
        EXPECT_EQ(reports.statuses(), (std::vector<Report>{{PublisherStatus::Aborted, c.error}})) << c.what;
        EXPECT_EQ(nm.count("connection"), 0u) << c.what;
    }
    // Without nmcli at all.
    NetworkManagerHotspotBackend backend(NetworkManagerConfig{});
    EXPECT_FALSE(backend.HasFeature());
    Reports reports;
    backend.Start("MeskWiFi-x", "k3ykeykeykey", reports.status_handler(), reports.client_handler());
    ASSERT_TRUE(reports.wait_for(1));
    EXPECT_EQ(reports.statuses(), (std::vector<Report>{{PublisherStatus::Aborted, PublisherError::Other}}));
}

TEST_F(NetworkManagerHotspot, AFailedActivationAbortsWithItsReason) {
    nm.set_activation_fails(true);
    {
        NetworkManagerHotspotBackend backend(config());
        Reports reports;
        backend.Start("MeskWiFi-x", "k3ykeykeykey", reports.status_handler(), reports.client_handler());
        ASSERT_TRUE(reports.wait_for(2));
        EXPECT_EQ(reports.statuses(),
                  (std::vector<Report>{created, {PublisherStatus::Aborted, PublisherError::Other}}));
    }
    // The radio went off on the way.
    StandinNmcli radio_off;
    two_wifi_devices(radio_off);
    radio_off.set_activation_fails(true);
    radio_off.set_device_state("wlan1", "20 (unavailable)", "");
    NetworkManagerHotspotBackend backend(config_for(radio_off));
    Reports reports;
    backend.Start("MeskWiFi-x", "k3ykeykeykey", reports.status_handler(), reports.client_handler());
    ASSERT_TRUE(reports.wait_for(2));
    EXPECT_EQ(reports.statuses().back(), (Report{PublisherStatus::Aborted, PublisherError::RadioNotAvailable}));
}

TEST_F(NetworkManagerHotspot, ARestartReplacesTheProfileAndDropsTheEarlierHandlers) {
    Reports first;
    auto backend = running_on(nm, first);
    Reports second;
    backend->Start("MeskWiFi-y", "otherkeyother", second.status_handler(), second.client_handler());
    ASSERT_TRUE(second.wait_for(2));
    EXPECT_EQ(second.statuses(), (std::vector<Report>{created, started}));
    backend->Stop();
    ASSERT_TRUE(second.wait_for(3));
    EXPECT_EQ(first.statuses(), (std::vector<Report>{created, started}));
    EXPECT_EQ(nm.count("connection delete mesk-hotspot"), 2u);
    EXPECT_EQ(nm.count("connection add save no type wifi ifname wlan1 con-name mesk-hotspot autoconnect no ssid "
                       "MeskWiFi-y "),
              1u);
}

TEST_F(NetworkManagerHotspot, TheHotspotDoesNotOutliveItsBackend) {
    Reports reports;
    running_on(nm, reports).reset();
    EXPECT_EQ(nm.count("connection down mesk-hotspot"), 1u);
    EXPECT_EQ(reports.statuses().size(), 2u);

    // A stopped one is not stopped again.
    Reports again;
    auto backend = running_on(nm, again);
    backend->Stop();
    ASSERT_TRUE(again.wait_for(3));
    backend.reset();
    EXPECT_EQ(nm.count("connection down mesk-hotspot"), 2u);
}

TEST_F(NetworkManagerHotspot, TheFeatureIsAskedAgainOnlyAfterItsTime) {
    NetworkManagerConfig kept = config();
    kept.feature_cache = std::chrono::hours(1);
    NetworkManagerHotspotBackend backend(kept);
    EXPECT_TRUE(backend.HasFeature());
    nm.set_running(false);
    EXPECT_TRUE(backend.HasFeature());
    EXPECT_EQ(nm.count(device_status_call), 1u);

    NetworkManagerHotspotBackend asking(config());
    EXPECT_FALSE(asking.HasFeature());
}

// This machine as it is, through the nmcli on its PATH (if any): a machine without a
// Wi-Fi interface has no hotspot. Nothing is started here.
TEST(NetworkManagerOnThisMachine, NoWifiInterfaceMeansNoHotspotFeature) {
    bool wifi = false;
    std::error_code ec;
    for (const auto& link : std::filesystem::directory_iterator("/sys/class/net", ec)) {
        wifi = wifi || std::filesystem::exists(link.path() / "wireless") ||
               std::filesystem::exists(link.path() / "phy80211");
    }
    if (wifi) GTEST_SKIP() << "this machine has a Wi-Fi interface";
    const char* path = std::getenv("PATH");
    NetworkManagerHotspotBackend backend(network_manager_config(path ? path : ""));
    EXPECT_FALSE(backend.HasFeature());
}

}  // namespace
}  // namespace vandrel
