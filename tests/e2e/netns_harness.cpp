#include "tests/e2e/netns_harness.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>

namespace vandrel::testing {

namespace {

using namespace std::chrono_literals;

int subnet_octet() { return 1 + static_cast<int>(getpid() % 250); }

std::string checked(const std::vector<std::string>& argv) {
    int status = 0;
    std::string out = run_command(argv, &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line;
        for (const auto& a : argv) line += a + " ";
        throw std::runtime_error("command failed: " + line);
    }
    return out;
}

}  // namespace

std::string run_command(std::vector<std::string> argv, int* status) {
    ChildProcess child(std::move(argv), environment_with({}));
    child.close_input();
    std::string out;
    while (auto line = child.read_line(60s)) out += *line + "\n";
    auto exit = child.wait_exit(60s);
    if (status) *status = exit ? *exit : -1;
    return out;
}

std::vector<std::string> TestDevice::environment() const {
    return environment_with({
        "HOME=" + root + "/home",
        "XDG_DATA_HOME=" + root + "/data",
        "XDG_CACHE_HOME=" + root + "/cache",
        "XDG_CONFIG_HOME=" + root + "/config",
        "DISPLAY=",
        "WAYLAND_DISPLAY=",
    });
}

std::string TestNetwork::unavailable_reason() {
    if (geteuid() != 0) return "network namespaces need root";
    int status = 0;
    const std::string probe = "mesk-probe-" + std::to_string(getpid());
    run_command({"/usr/bin/env", "ip", "netns", "add", probe}, &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "`ip netns add` does not work here";
    run_command({"/usr/bin/env", "ip", "netns", "del", probe});
    return "";
}

TestNetwork::TestNetwork(int count) {
    const std::string tag = std::to_string(getpid());
    const std::string subnet = "10.231." + std::to_string(subnet_octet()) + ".";
    bridge_ = "mesk-br-" + tag;
    try {
        checked({"/usr/bin/env", "ip", "netns", "add", bridge_});
        checked({"/usr/bin/env", "ip", "-n", bridge_, "link", "add", "br0", "type", "bridge"});
        checked({"/usr/bin/env", "ip", "-n", bridge_, "link", "set", "br0", "up"});
        for (int i = 0; i < count; ++i) {
            TestDevice d;
            d.name = "mesk-dev" + std::to_string(i) + "-" + tag;
            d.address = subnet + std::to_string(i + 1);
            char pattern[] = "/tmp/mesk-e2e-XXXXXX";
            d.root = mkdtemp(pattern);
            devices_.push_back(d);
            const std::string peer = "p" + std::to_string(i);
            checked({"/usr/bin/env", "ip", "netns", "add", d.name});
            checked({"/usr/bin/env", "ip", "-n", d.name, "link", "set", "lo", "up"});
            checked({"/usr/bin/env", "ip", "-n", d.name, "link", "add", "eth0", "type", "veth", "peer", "name", peer,
                     "netns", bridge_});
            checked({"/usr/bin/env", "ip", "-n", bridge_, "link", "set", peer, "master", "br0", "up"});
            checked({"/usr/bin/env", "ip", "-n", d.name, "addr", "add", d.address + "/24", "brd", "+", "dev", "eth0"});
            checked({"/usr/bin/env", "ip", "-n", d.name, "link", "set", "eth0", "up"});
        }
    } catch (...) {
        teardown();
        throw;
    }
}

TestNetwork::~TestNetwork() { teardown(); }

void TestNetwork::teardown() {
    for (const auto& d : devices_) {
        // Anything still running in the namespace goes with it.
        std::string pids = run_command({"/usr/bin/env", "ip", "netns", "pids", d.name});
        for (std::size_t pos = 0; pos < pids.size();) {
            auto nl = pids.find('\n', pos);
            std::string pid = pids.substr(pos, nl - pos);
            if (!pid.empty()) kill(std::stoi(pid), SIGKILL);
            if (nl == std::string::npos) break;
            pos = nl + 1;
        }
        run_command({"/usr/bin/env", "ip", "netns", "del", d.name});
        std::error_code ignored;
        std::filesystem::remove_all(d.root, ignored);
    }
    devices_.clear();
    if (!bridge_.empty()) run_command({"/usr/bin/env", "ip", "netns", "del", bridge_});
    bridge_.clear();
}

std::unique_ptr<ChildProcess> TestNetwork::start(const TestDevice& device, std::vector<std::string> argv) const {
    std::vector<std::string> full = {"/usr/bin/env", "ip", "netns", "exec", device.name};
    full.insert(full.end(), argv.begin(), argv.end());
    return std::make_unique<ChildProcess>(std::move(full), device.environment());
}

std::string TestNetwork::run(const TestDevice& device, std::vector<std::string> argv, int* status) const {
    auto child = start(device, std::move(argv));
    child->close_input();
    std::string out;
    while (auto line = child->read_line(60s)) out += *line + "\n";
    auto exit = child->wait_exit(60s);
    if (status) *status = exit ? *exit : -1;
    return out;
}

std::unique_ptr<ChildProcess> TestNetwork::start_mesk(const TestDevice& device) const {
    auto child = start(device, {MESK_BINARY});
    if (!child->wait_for_line("event core_started", 60s))
        throw std::runtime_error("mesk did not start on " + device.name);
    return child;
}

}  // namespace vandrel::testing
