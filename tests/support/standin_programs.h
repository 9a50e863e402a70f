// Stand-ins for the desktop programs the platform layer runs, each a small shell script
// in a fresh folder of its own (put the folder first on PATH, or give the program's path).
// Each records every call's arguments, joined by blanks, one line per call.
//   StandinNmcli: NetworkManager's nmcli. It answers from what the test sets (the device
//   list, the devices that can act as an access point, each device's state) and keeps
//   that state as NetworkManager would: "connection up" connects the hotspot profile's
//   device, "connection down" and "connection delete" disconnect it.
//   StandinInhibitor: systemd-inhibit. It records its arguments, then "held", runs the
//   program it was given (the last argument), and records "released" once that ended.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "tests/support/net_test_support.h"

namespace vandrel::testing {

class StandinNmcli {
public:
    StandinNmcli();

    // Ends in "/"; holds "nmcli".
    std::string folder() const { return folder_.path(); }
    std::string program() const { return folder_.path() + "nmcli"; }
    // Where the DHCP leases of each device are written.
    std::string leases_folder() const { return folder_.path() + "leases"; }

    std::vector<std::string> calls() const;
    // How many calls began with `prefix`.
    std::size_t count(const std::string& prefix) const;

    // Lines of `nmcli -t -f DEVICE,TYPE,STATE,CONNECTION device status`.
    void set_devices(const std::vector<std::string>& lines);
    void set_access_points(const std::vector<std::string>& devices);
    // GENERAL.STATE (as "100 (connected)") and GENERAL.CONNECTION of a device.
    void set_device_state(const std::string& device, const std::string& state, const std::string& connection);
    // The device is gone: `device show` finds nothing.
    void remove_device(const std::string& device);
    // NetworkManager is not running: every call fails as nmcli does then.
    void set_running(bool running);
    void set_activation_fails(bool fails);
    // The leases file of the device's shared connection, one lease per line.
    void set_leases(const std::string& device, const std::vector<std::string>& lines);

private:
    void write(const std::string& name, const std::string& text) const;
    void set_flag(const std::string& name, bool on) const;

    test::temp_folder folder_;
};

class StandinInhibitor {
public:
    // `refuses`: it fails as it does in a session without logind.
    explicit StandinInhibitor(bool refuses = false);

    std::string folder() const { return folder_.path(); }
    std::string program() const { return folder_.path() + "systemd-inhibit"; }
    // Its arguments, "held" and "released", as far as it came.
    std::vector<std::string> record() const;
    // Polls the record until it holds `line`; false when the limit passed first.
    bool wait_for(const std::string& line, std::chrono::milliseconds limit) const;

private:
    test::temp_folder folder_;
};

}  // namespace vandrel::testing
