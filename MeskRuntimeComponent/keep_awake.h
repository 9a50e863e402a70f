// Keeps the session from acting on idleness (suspending the machine, say) for as long as
// the object lives: logind's idle inhibitor, taken by systemd-inhibit, which holds it
// while the program it runs lives. That program is cat on a pipe only this object holds,
// so the inhibitor ends with the object, and also when this process dies. Nothing is
// held, and nothing said, without a system bus to reach logind on, without
// systemd-inhibit or without cat; where logind refuses, systemd-inhibit says why on
// standard error and ends.
#pragma once

#include <memory>
#include <string>

#include "MeskRuntimeComponent/program_runner.h"

namespace vandrel {

// The system bus's socket as systemd-inhibit reaches it; "" when the environment names
// the bus itself (DBUS_SYSTEM_BUS_ADDRESS), which is then not looked for.
std::string system_bus_socket();

class KeepAwake {
public:
    // Looks both programs up in the ":"-separated folder list; `bus_socket` must exist
    // unless it is "".
    explicit KeepAwake(const std::string& path_variable, const std::string& bus_socket = system_bus_socket());

    // Whether systemd-inhibit was started and has not ended.
    bool Held();

private:
    std::unique_ptr<HeldProgram> inhibitor_;
};

}  // namespace vandrel
