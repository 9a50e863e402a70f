// Devices on a private test network: each device is a network namespace of its own,
// joined to the others by veth pairs on one subnet, with its own home and XDG folders
// and its own hosts file (the cloud service name points into the namespace itself
// until point_cloud_at names a device). Runs only as root (namespaces need it);
// unavailable_reason() says why it cannot run. Everything made is removed again when
// the network goes out of scope: processes, namespaces, folders, /etc/netns entries.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace vandrel::testing {

struct TestDevice {
    std::string name;     // the namespace
    std::string address;  // its IPv4 address on the test network
    std::string root;     // its home and XDG folders live under here
    std::vector<std::string> environment() const;
    std::string data_folder() const { return root + "/data/mesk/Data/"; }
};

// The name every core calls the cloud service by.
inline constexpr const char* cloud_host_name = "cloud.mesk.internal";

class TestNetwork {
public:
    // Makes `count` devices on 10.231.N.0/24 (N from the process id), each with its
    // namespace, loopback up, and one veth link to a bridge namespace.
    explicit TestNetwork(int count);
    ~TestNetwork();
    TestNetwork(const TestNetwork&) = delete;
    TestNetwork& operator=(const TestNetwork&) = delete;

    // Why the harness cannot run here ("" when it can): not root, no `ip`, no netns.
    static std::string unavailable_reason();
    // Why announces cannot be dropped here ("" when they can): no `nft`, or no bridge
    // filtering in this kernel.
    static std::string filter_unavailable_reason();

    const TestDevice& device(int index) const { return devices_.at(index); }
    // "10.231.N": the first three octets of the test network.
    const std::string& subnet() const { return subnet_; }

    // Starts a program inside the device's namespace with the device's environment
    // (`ip netns exec`, so that the namespace's own hosts file is the one read).
    std::unique_ptr<ChildProcess> start(const TestDevice& device, std::vector<std::string> argv) const;
    // Runs a command inside the namespace to its end; returns its standard output, and
    // its exit status through `status` when given.
    std::string run(const TestDevice& device, std::vector<std::string> argv, int* status = nullptr) const;

    // Starts mesk on the device and waits for "event core_started".
    std::unique_ptr<ChildProcess> start_mesk(const TestDevice& device) const;

    // Every device's hosts file names `address` as the cloud service.
    void point_cloud_at(const std::string& address);
    // Drops UDP to or from port 45001 between the namespaces (in the bridge), so that
    // no announce gets through; blocked_announces() counts what was dropped.
    void block_announces();
    std::uint64_t blocked_announces() const;
    // Drops `percent` of all packets that cross the bridge, in either direction, drawn
    // at random (0 lifts it); lost_packets() counts what was dropped. Devices then send
    // each packet as it goes on the wire.
    void lose_packets(int percent);
    std::uint64_t lost_packets() const;
    // Adds an address ("A.B.C.D/LEN") to the device's interface, with its broadcast.
    void add_address(const TestDevice& device, const std::string& address_with_length) const;
    // Gives the device many addresses at once, as a hostile host would: `ipv4` of the
    // test network (from .100 up, at most 150) and `ipv6` link-local ones (fe80::1:N,
    // no duplicate detection). Returns them in the normal form of peer addresses.
    std::vector<std::string> add_many_addresses(const TestDevice& device, int ipv4, int ipv6) const;

private:
    void teardown();
    std::string bridge_;
    std::string subnet_;
    std::vector<TestDevice> devices_;
};

// Runs a command (no shell) to its end; its standard output, its status in `status`.
std::string run_command(std::vector<std::string> argv, int* status = nullptr);

// Reads the number after "NAME:" in /proc/PID/status (Threads, VmRSS in kB); -1 when
// the process or the line is missing.
long process_status_value(int pid, const std::string& name);

}  // namespace vandrel::testing
