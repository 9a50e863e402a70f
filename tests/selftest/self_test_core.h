// A whole core in the test process, as the program runs it: the Linux platform services
// over folders of the test's own (no helper programs, no network interfaces), bound to
// a loopback address of the test's own with ports the system picks, its texts for the
// interface recorded. For the self test, which runs over the live core.
#pragma once

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "MeskRuntimeComponent/dispatcher.h"
#include "MeskRuntimeComponent/linux_platform_services.h"
#include "core_lib/foundation/json.h"
#include "core_lib/startup/core.h"
#include "tests/runtime/runtime_test_folder.h"
#include "tests/support/recording_platform.h"
#include "tests/support/test_core.h"

namespace vandrel::testing {

// 127.X.Y.Z, drawn per test, so that tests running side by side never share an address.
inline std::string own_loopback_address_for_test() {
    std::mt19937 draw(std::random_device{}());
    std::uniform_int_distribution<int> octet(2, 254);
    return "127." + std::to_string(octet(draw)) + "." + std::to_string(octet(draw)) + "." + std::to_string(octet(draw));
}

class self_test_core {
public:
    explicit self_test_core(self_test_fault made_to_fail = {}) : fault(std::move(made_to_fail)) {
        LinuxPlatformConfig config;
        config.environment = PlatformEnvironment{};
        config.environment.home = folder.make_folder("home");
        config.launcher.find_program = [](const std::string&) { return std::string(); };
        config.network.interfaces = [] { return std::vector<NetworkInterface>{}; };
        config.network.wireless_links = [] { return std::vector<WirelessLink>{}; };
        services = std::make_shared<LinuxPlatformServices>(ui_thread, config);
        restart();
    }

    // A new core over the same folders, once the running one has stopped.
    void restart() {
        running.reset();
        core_config setup = loopback_core_config(services, ui.sink(), address);
        setup.test_fault = fault;
        running = std::make_unique<core>(std::move(setup));
        running->start();
    }

    // The "append_test" records (the "test" objects) posted so far, in order.
    std::vector<Json> checks() const {
        std::vector<Json> found;
        for (const Json& event : ui.events()) {
            if (event["action"].string_value() == "append_test") found.push_back(event["test"]);
        }
        return found;
    }

    // Polls the checks until one of that label came; false when the limit passed first.
    bool wait_for_check(const std::string& label, std::chrono::milliseconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (const Json& check : checks()) {
                if (check["label"].string_value() == label) return true;
            }
            if (std::chrono::steady_clock::now() >= deadline) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    std::string home() const { return folder / "home"; }

    const self_test_fault fault;
    TestFolder folder;
    const std::string address = own_loopback_address_for_test();
    std::shared_ptr<Dispatcher> ui_thread = Dispatcher::create();
    std::shared_ptr<LinuxPlatformServices> services;
    recording_ui_sink ui;
    std::unique_ptr<core> running;
};

}  // namespace vandrel::testing
