#include "tests/e2e/netns_harness.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
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

// `ip netns exec NAME` mounts the files of /etc/netns/NAME over those of /etc.
std::string etc_folder(const TestDevice& device) { return "/etc/netns/" + device.name; }

void write_hosts(const TestDevice& device, const std::string& cloud_address) {
    // /etc/netns may go away under us when another test removes it as it ends empty.
    for (int attempt = 0; attempt < 3; ++attempt) {
        std::error_code ec;
        std::filesystem::create_directories(etc_folder(device), ec);
        if (!ec) break;
    }
    std::ofstream hosts(etc_folder(device) + "/hosts", std::ios::trunc);
    hosts << "127.0.0.1 localhost\n::1 localhost\n" << cloud_address << " " << cloud_host_name << "\n";
    // No name question may leave the namespace either.
    std::ofstream(etc_folder(device) + "/resolv.conf", std::ios::trunc) << "nameserver 127.0.0.1\n";
    if (!hosts) throw std::runtime_error("cannot write the hosts file of " + device.name);
}

}  // namespace

long process_status_value(int pid, const std::string& name) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(name + ":", 0) != 0) continue;
        std::istringstream value(line.substr(name.size() + 1));
        long number = -1;
        value >> number;
        return number;
    }
    return -1;
}

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

std::string TestNetwork::filter_unavailable_reason() {
    int status = 0;
    run_command({"/usr/bin/env", "nft", "--version"}, &status);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "no `nft` here (scripts/install-deps.sh installs nftables)";
    const std::string probe = "mesk-nft-" + std::to_string(getpid());
    run_command({"/usr/bin/env", "ip", "netns", "add", probe});
    run_command({"/usr/bin/env", "ip", "netns", "exec", probe, "nft", "add", "table", "bridge", "probe"}, &status);
    run_command({"/usr/bin/env", "ip", "netns", "del", probe});
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "this kernel has no nftables bridge filtering";
    return "";
}

TestNetwork::TestNetwork(int count) {
    const std::string tag = std::to_string(getpid());
    subnet_ = "10.231." + std::to_string(subnet_octet());
    const std::string subnet = subnet_ + ".";
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
            write_hosts(d, "127.0.0.1");
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
        std::filesystem::remove_all(etc_folder(d), ignored);
    }
    // Only when empty: other tests may have their devices' folders there.
    std::error_code ignored;
    if (!devices_.empty()) std::filesystem::remove("/etc/netns", ignored);
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

void TestNetwork::point_cloud_at(const std::string& address) {
    for (const auto& d : devices_) write_hosts(d, address);
}

void TestNetwork::block_announces() {
    const std::vector<std::string> ns = {"/usr/bin/env", "ip", "netns", "exec", bridge_, "nft"};
    auto nft = [&](std::vector<std::string> args) {
        std::vector<std::string> argv = ns;
        argv.insert(argv.end(), args.begin(), args.end());
        checked(argv);
    };
    nft({"add", "table", "bridge", "mesk"});
    nft({"add", "chain", "bridge", "mesk", "forward", "{ type filter hook forward priority 0; }"});
    nft({"add", "rule", "bridge", "mesk", "forward", "udp", "dport", "45001", "counter", "drop"});
    nft({"add", "rule", "bridge", "mesk", "forward", "udp", "sport", "45001", "counter", "drop"});
}

std::uint64_t TestNetwork::blocked_announces() const {
    const std::string rules =
        run_command({"/usr/bin/env", "ip", "netns", "exec", bridge_, "nft", "list", "table", "bridge", "mesk"});
    std::uint64_t total = 0;
    for (std::size_t at = rules.find("packets "); at != std::string::npos; at = rules.find("packets ", at + 1)) {
        total += std::stoull(rules.substr(at + 8));
    }
    return total;
}

void TestNetwork::lose_packets(int percent) {
    const std::vector<std::string> ns = {"/usr/bin/env", "ip", "netns", "exec", bridge_, "nft"};
    auto nft = [&](std::vector<std::string> args, bool check) {
        std::vector<std::string> argv = ns;
        argv.insert(argv.end(), args.begin(), args.end());
        if (check) {
            checked(argv);
        } else {
            run_command(argv);
        }
    };
    nft({"delete", "table", "bridge", "mesk_loss"}, false);
    if (percent <= 0) return;
    // One packet on the wire is one packet here, not a 64 KiB batch the kernel splits later.
    for (const TestDevice& d : devices_) {
        checked({"/usr/bin/env", "ip", "-n", d.name, "link", "set", "eth0", "gso_max_segs", "1"});
    }
    nft({"add", "table", "bridge", "mesk_loss"}, true);
    nft({"add", "chain", "bridge", "mesk_loss", "forward", "{ type filter hook forward priority 0; }"}, true);
    nft({"add", "rule", "bridge", "mesk_loss", "forward", "numgen", "random", "mod", "100", "<",
         std::to_string(percent), "counter", "drop"},
        true);
}

std::uint64_t TestNetwork::lost_packets() const {
    const std::string rules =
        run_command({"/usr/bin/env", "ip", "netns", "exec", bridge_, "nft", "list", "table", "bridge", "mesk_loss"});
    const auto at = rules.find("packets ");
    return at == std::string::npos ? 0 : std::stoull(rules.substr(at + 8));
}

void TestNetwork::add_address(const TestDevice& device, const std::string& address_with_length) const {
    checked({"/usr/bin/env", "ip", "-n", device.name, "addr", "add", address_with_length, "brd", "+", "dev", "eth0"});
}

std::vector<std::string> TestNetwork::add_many_addresses(const TestDevice& device, int ipv4, int ipv6) const {
    if (ipv4 > 150) throw std::invalid_argument("at most 150 IPv4 addresses fit the test network");
    std::vector<std::string> added;
    std::ostringstream batch;
    for (int i = 0; i < ipv4; ++i) {
        added.push_back(subnet_ + "." + std::to_string(100 + i));
        batch << "addr add " << added.back() << "/24 dev eth0\n";
    }
    for (int i = 0; i < ipv6; ++i) {
        std::ostringstream address;
        address << "fe80::1:" << std::hex << (i + 1);
        added.push_back("[" + address.str() + "]");
        batch << "addr add " << address.str() << "/64 dev eth0 nodad\n";
    }
    if (added.empty()) return added;
    const std::string file = device.root + "/addresses.batch";
    std::ofstream(file) << batch.str();
    checked({"/usr/bin/env", "ip", "-n", device.name, "-batch", file});
    return added;
}

}  // namespace vandrel::testing
