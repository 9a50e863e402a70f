#include "MeskRuntimeComponent/keep_awake.h"

#include <sys/stat.h>

#include <cstdlib>

#include "MeskRuntimeComponent/program_launcher.h"

namespace vandrel {

std::string system_bus_socket() {
    const char* named = std::getenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (named && *named) return {};
    return "/run/dbus/system_bus_socket";
}

KeepAwake::KeepAwake(const std::string& path_variable, const std::string& bus_socket) {
    struct stat info {};
    if (!bus_socket.empty() && stat(bus_socket.c_str(), &info) != 0) return;
    const std::string inhibit = find_program_in_path("systemd-inhibit", path_variable);
    const std::string cat = find_program_in_path("cat", path_variable);
    if (inhibit.empty() || cat.empty()) return;
    inhibitor_ = std::make_unique<HeldProgram>(std::vector<std::string>{
        inhibit, "--what=idle", "--who=mesk", "--why=Sharing files with nearby devices", "--mode=block", cat});
}

bool KeepAwake::Held() { return inhibitor_ && inhibitor_->running(); }

}  // namespace vandrel
