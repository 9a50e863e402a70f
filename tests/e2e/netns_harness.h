// Devices on a private test network: each device is a network namespace of its own,
// joined to the others by veth pairs on one subnet, with its own home and XDG folders.
// Runs only as root (namespaces need it); available() says whether it can run here.
// Everything made is removed again when the network goes out of scope.
#pragma once

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

    const TestDevice& device(int index) const { return devices_.at(index); }

    // Starts a program inside the device's namespace with the device's environment.
    std::unique_ptr<ChildProcess> start(const TestDevice& device, std::vector<std::string> argv) const;
    // Runs a command inside the namespace to its end; returns its standard output, and
    // its exit status through `status` when given.
    std::string run(const TestDevice& device, std::vector<std::string> argv, int* status = nullptr) const;

    // Starts mesk on the device and waits for "event core_started".
    std::unique_ptr<ChildProcess> start_mesk(const TestDevice& device) const;

private:
    void teardown();
    std::string bridge_;
    std::vector<TestDevice> devices_;
};

// Runs a command (no shell) to its end; its standard output, its status in `status`.
std::string run_command(std::vector<std::string> argv, int* status = nullptr);

}  // namespace vandrel::testing
