#include "tests/support/standin_programs.h"

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/support/stub_peer.h"

namespace vandrel::testing {

namespace {

// Answers as nmcli does, from the files next to it; "@FOLDER@" is its folder.
constexpr const char* nmcli_script = R"SH(#!/bin/sh
state='@FOLDER@'
printf '%s\n' "$*" >> "$state/calls"
if [ -e "$state/not-running" ]; then
    echo 'Error: NetworkManager is not running.' >&2
    exit 8
fi
set_state() {
    printf 'GENERAL.STATE:%s\nGENERAL.CONNECTION:%s\n' "$2" "$3" > "$state/state-$1.new"
    mv "$state/state-$1.new" "$state/state-$1"
}
profile_device() { cat "$state/profile"; }
case "$*" in
'-t -f DEVICE,TYPE,STATE,CONNECTION device status')
    cat "$state/devices" ;;
'-t -f WIFI-PROPERTIES.AP device show '*)
    if grep -qx -- "$6" "$state/access-points" 2>/dev/null; then
        echo 'WIFI-PROPERTIES.AP:yes'
    else
        echo 'WIFI-PROPERTIES.AP:no'
    fi ;;
'-t -f GENERAL.STATE,GENERAL.CONNECTION device show '*)
    if [ ! -e "$state/state-$6" ]; then
        echo "Error: Device '$6' not found." >&2
        exit 10
    fi
    cat "$state/state-$6" ;;
'connection delete mesk-hotspot')
    if [ ! -e "$state/profile" ]; then
        echo "Error: unknown connection 'mesk-hotspot'." >&2
        exit 10
    fi
    set_state "$(profile_device)" '30 (disconnected)' ''
    rm "$state/profile"
    echo "Connection 'mesk-hotspot' successfully deleted." ;;
'connection add '*)
    previous=
    for word in "$@"; do
        if [ "$previous" = ifname ]; then printf '%s' "$word" > "$state/profile"; fi
        previous=$word
    done
    echo "Connection 'mesk-hotspot' successfully added." ;;
'--wait '*' connection up mesk-hotspot')
    if [ -e "$state/activation-fails" ]; then
        echo 'Error: Connection activation failed: No suitable device found for this connection.' >&2
        exit 4
    fi
    set_state "$(profile_device)" '100 (connected)' 'mesk-hotspot'
    echo 'Connection successfully activated (D-Bus active path: /org/freedesktop/NetworkManager/ActiveConnection/7)' ;;
'connection down mesk-hotspot')
    set_state "$(profile_device)" '30 (disconnected)' ''
    echo "Connection 'mesk-hotspot' successfully deactivated." ;;
*)
    echo "stand-in nmcli: no answer for: $*" >&2
    exit 2 ;;
esac
)SH";

constexpr const char* inhibit_script = R"SH(#!/bin/sh
record='@FOLDER@/record'
printf '%s\n' "$*" >> "$record"
if [ -e '@FOLDER@/refuses' ]; then
    echo 'Failed to connect to bus: No such file or directory' >&2
    exit 1
fi
for program in "$@"; do :; done
echo held >> "$record"
"$program"
echo released >> "$record"
)SH";

void write_file(const std::string& path, const std::string& text) {
    // Whole or not at all: the scripts read these files while a test changes them.
    const std::string partial = path + ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out << text;
        if (!out) throw std::runtime_error("cannot write " + partial);
    }
    std::filesystem::rename(partial, path);
}

void write_script(const std::string& path, std::string text, const std::string& folder) {
    const std::string marker = "@FOLDER@";
    std::string without_slash = folder;
    if (!without_slash.empty() && without_slash.back() == '/') without_slash.pop_back();
    for (std::size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at)) {
        text.replace(at, marker.size(), without_slash);
    }
    write_file(path, text);
    chmod(path.c_str(), 0755);
}

std::vector<std::string> lines_of_file(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
}

std::string joined_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    return text;
}

}  // namespace

StandinNmcli::StandinNmcli() {
    write_script(program(), nmcli_script, folder());
    std::filesystem::create_directory(leases_folder());
    set_devices({});
    set_access_points({});
}

std::vector<std::string> StandinNmcli::calls() const { return lines_of_file(folder() + "calls"); }

std::size_t StandinNmcli::count(const std::string& prefix) const {
    std::size_t found = 0;
    for (const auto& call : calls()) found += call.rfind(prefix, 0) == 0 ? 1 : 0;
    return found;
}

void StandinNmcli::set_devices(const std::vector<std::string>& lines) { write("devices", joined_lines(lines)); }

void StandinNmcli::set_access_points(const std::vector<std::string>& devices) {
    write("access-points", joined_lines(devices));
}

void StandinNmcli::set_device_state(const std::string& device, const std::string& state,
                                    const std::string& connection) {
    write("state-" + device, "GENERAL.STATE:" + state + "\nGENERAL.CONNECTION:" + connection + "\n");
}

void StandinNmcli::remove_device(const std::string& device) { std::remove((folder() + "state-" + device).c_str()); }

void StandinNmcli::set_running(bool running) { set_flag("not-running", !running); }

void StandinNmcli::set_activation_fails(bool fails) { set_flag("activation-fails", fails); }

void StandinNmcli::set_leases(const std::string& device, const std::vector<std::string>& lines) {
    write_file(leases_folder() + "/dnsmasq-" + device + ".leases", joined_lines(lines));
}

void StandinNmcli::write(const std::string& name, const std::string& text) const { write_file(folder() + name, text); }

void StandinNmcli::set_flag(const std::string& name, bool on) const {
    if (on) {
        write(name, "");
    } else {
        std::remove((folder() + name).c_str());
    }
}

StandinInhibitor::StandinInhibitor(bool refuses) {
    write_script(program(), inhibit_script, folder());
    if (refuses) write_file(folder() + "refuses", "");
}

std::vector<std::string> StandinInhibitor::record() const { return lines_of_file(folder() + "record"); }

bool StandinInhibitor::wait_for(const std::string& line, std::chrono::milliseconds limit) const {
    return wait_until(
        [&] {
            for (const auto& recorded : record()) {
                if (recorded == line) return true;
            }
            return false;
        },
        limit);
}

}  // namespace vandrel::testing
