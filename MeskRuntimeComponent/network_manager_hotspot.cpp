#include "MeskRuntimeComponent/network_manager_hotspot.h"

#include <net/if.h>

#include <fstream>
#include <iostream>
#include <sstream>
#include <utility>

#include "MeskRuntimeComponent/program_launcher.h"
#include "core_lib/foundation/named_thread.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/discovery/peer_refresh.h"

namespace vandrel {

namespace {

constexpr std::chrono::milliseconds query_limit{15000};
constexpr std::chrono::milliseconds change_limit{30000};

void note_failure(const std::string& what, const ProgramResult& result) {
    std::string reason = result.ended ? trim(result.err) : std::string("no answer in time");
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r')) reason.pop_back();
    std::cerr << "hotspot: " << what << " failed: " << (reason.empty() ? "nmcli gave no reason" : reason) << "\n";
}

bool succeeded(const ProgramResult& result) { return result.ended && result.exit_code == 0; }

}  // namespace

NetworkManagerConfig network_manager_config(const std::string& path_variable) {
    NetworkManagerConfig config;
    config.nmcli = find_program_in_path("nmcli", path_variable);
    return config;
}

std::vector<std::string> hotspot_profile_arguments(const std::string& device, const std::string& ssid,
                                                   const std::string& passphrase) {
    // In memory only (save no): nothing of it outlives NetworkManager's run. WPA2 with
    // CCMP, and protected management frames off, which many access-point drivers lack.
    // Devices that join find this one at the hotspot gateway address, where peers look.
    return {"connection",
            "add",
            "save",
            "no",
            "type",
            "wifi",
            "ifname",
            device,
            "con-name",
            hotspot_connection_name,
            "autoconnect",
            "no",
            "ssid",
            ssid,
            "802-11-wireless.mode",
            "ap",
            "802-11-wireless.band",
            "bg",
            "ipv4.method",
            "shared",
            "ipv4.addresses",
            hotspot_gateway_address + "/24",
            "ipv6.method",
            "ignore",
            "wifi-sec.key-mgmt",
            "wpa-psk",
            "wifi-sec.proto",
            "rsn",
            "wifi-sec.pairwise",
            "ccmp",
            "wifi-sec.group",
            "ccmp",
            "wifi-sec.pmf",
            "disable",
            "wifi-sec.psk",
            passphrase};
}

NetworkManagerHotspotBackend::NetworkManagerHotspotBackend(NetworkManagerConfig config) : config_(std::move(config)) {}

NetworkManagerHotspotBackend::~NetworkManagerHotspotBackend() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
        commands_.clear();
        on_status_.reset();
        on_client_.reset();
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

bool NetworkManagerHotspotBackend::HasFeature() const {
    if (config_.nmcli.empty()) return false;
    std::lock_guard<std::mutex> lock(feature_mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (feature_known_ && now - feature_read_at_ < config_.feature_cache) return feature_;
    bool any = false;
    for (const auto& device : devices(nullptr)) any = any || may_host_hotspot(device);
    feature_ = any;
    feature_known_ = true;
    feature_read_at_ = now;
    return feature_;
}

void NetworkManagerHotspotBackend::Start(const std::string& ssid, const std::string& passphrase,
                                         StatusHandler on_status, ClientHandler on_client) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++generation_;
    has_publisher_ = true;
    status_ = PublisherStatus::Created;
    on_status_ = std::make_shared<const StatusHandler>(std::move(on_status));
    on_client_ = std::make_shared<const ClientHandler>(std::move(on_client));
    commands_.push_back({true, generation_, ssid, passphrase});
    if (!worker_.joinable()) {
        worker_ = start_thread("mesk-hotspot", [this] { run_worker(); });
    }
    wake_.notify_all();
}

void NetworkManagerHotspotBackend::Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!has_publisher_) return;
    commands_.push_back({false, generation_, {}, {}});
    wake_.notify_all();
}

bool NetworkManagerHotspotBackend::HasPublisher() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return has_publisher_;
}

PublisherStatus NetworkManagerHotspotBackend::Status() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return status_;
}

void NetworkManagerHotspotBackend::run_worker() {
    std::unique_lock<std::mutex> lock(mutex_);
    const auto woken = [this] { return ending_ || !commands_.empty(); };
    while (!ending_) {
        if (!commands_.empty()) {
            const Command command = std::move(commands_.front());
            commands_.pop_front();
            // A command for a publisher that a later Start replaced has nothing to do.
            const bool current = command.generation == generation_;
            lock.unlock();
            if (current) command.start ? start_hotspot(command) : stop_hotspot(command);
            lock.lock();
            continue;
        }
        if (!watching_) {
            wake_.wait(lock, woken);
            continue;
        }
        if (wake_.wait_for(lock, config_.poll_interval, woken)) continue;
        lock.unlock();
        look_at_hotspot();
        lock.lock();
    }
    lock.unlock();
    // What this backend started does not outlive it.
    if (maybe_up_) {
        const ProgramResult down = nmcli({"connection", "down", hotspot_connection_name}, query_limit, false);
        if (!succeeded(down)) note_failure("stopping the hotspot", down);
    }
}

void NetworkManagerHotspotBackend::start_hotspot(const Command& command) {
    watching_ = false;
    bool not_running = false;
    const std::vector<NmDevice> found = devices(&not_running);
    if (ending_) return;
    const HotspotDeviceChoice choice = not_running ? HotspotDeviceChoice{"", PublisherError::Other}
                                                   : choose_hotspot_device(found, hotspot_connection_name);
    if (choice.device.empty()) {
        std::cerr << "hotspot: no Wi-Fi device may act as an access point now\n";
        report(command.generation, PublisherStatus::Aborted, choice.error);
        return;
    }
    // A profile left by an earlier start, or by an earlier run, goes first: the new one
    // holds this start's device, name and key.
    nmcli({"connection", "delete", hotspot_connection_name}, change_limit);
    const ProgramResult made =
        nmcli(hotspot_profile_arguments(choice.device, command.ssid, command.passphrase), change_limit);
    if (ending_) return;
    if (!succeeded(made)) {
        note_failure("making the hotspot's profile", made);
        report(command.generation, PublisherStatus::Aborted, PublisherError::Other);
        return;
    }
    report(command.generation, PublisherStatus::Created, PublisherError::Success);

    maybe_up_ = true;
    const std::string wait_seconds = std::to_string(config_.activation_wait.count());
    const ProgramResult up = nmcli({"--wait", wait_seconds, "connection", "up", hotspot_connection_name},
                                   config_.activation_wait + change_limit);
    if (ending_) return;
    if (!succeeded(up)) {
        note_failure("starting the hotspot", up);
        if (up.ended) maybe_up_ = false;
        // Why: the device's radio may be off, or another connection may hold it.
        const ProgramResult state =
            nmcli({"-t", "-f", "GENERAL.STATE,GENERAL.CONNECTION", "device", "show", choice.device}, query_limit);
        const auto change = hotspot_change(state.ended ? state.exit_code : -1, state.out, hotspot_connection_name);
        const bool explained = change && change->status == PublisherStatus::Aborted;
        report(command.generation, PublisherStatus::Aborted, explained ? change->error : PublisherError::Other);
        return;
    }
    device_ = choice.device;
    // Leases from before this start are no news.
    seen_clients_.clear();
    for (const auto& client : leases(device_)) seen_clients_.insert(client.hardware_address);
    watching_ = true;
    watched_generation_ = command.generation;
    report(command.generation, PublisherStatus::Started, PublisherError::Success);
}

void NetworkManagerHotspotBackend::stop_hotspot(const Command& command) {
    const PublisherStatus now = Status();
    if (now != PublisherStatus::Created && now != PublisherStatus::Started) return;
    watching_ = false;
    const ProgramResult down = nmcli({"connection", "down", hotspot_connection_name}, change_limit);
    if (!succeeded(down)) note_failure("stopping the hotspot", down);
    maybe_up_ = false;
    report(command.generation, PublisherStatus::Stopped, PublisherError::Success);
}

void NetworkManagerHotspotBackend::look_at_hotspot() {
    const ProgramResult state =
        nmcli({"-t", "-f", "GENERAL.STATE,GENERAL.CONNECTION", "device", "show", device_}, query_limit);
    if (ending_) return;
    if (state.ended) {
        if (const auto change = hotspot_change(state.exit_code, state.out, hotspot_connection_name)) {
            watching_ = false;
            report(watched_generation_, change->status, change->error);
            return;
        }
    }
    for (const auto& client : leases(device_)) {
        if (seen_clients_.insert(client.hardware_address).second) report_client(watched_generation_, client);
    }
}

void NetworkManagerHotspotBackend::report(std::uint64_t generation, PublisherStatus status, PublisherError error) {
    std::shared_ptr<const StatusHandler> handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation != generation_) return;
        status_ = status;
        handler = on_status_;
    }
    if (handler && *handler) (*handler)(status, error);
}

void NetworkManagerHotspotBackend::report_client(std::uint64_t generation, const HotspotClient& client) {
    std::shared_ptr<const ClientHandler> handler;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation != generation_) return;
        handler = on_client_;
    }
    if (handler && *handler) (*handler)(client);
}

ProgramResult NetworkManagerHotspotBackend::nmcli(std::vector<std::string> arguments, std::chrono::milliseconds limit,
                                                  bool cancellable) const {
    ProgramRun run;
    run.argv.reserve(arguments.size() + 1);
    run.argv.push_back(config_.nmcli);
    for (auto& argument : arguments) run.argv.push_back(std::move(argument));
    // Its words in English whatever the user's language: states are read by name.
    run.environment = {"LC_ALL=C"};
    run.time_limit = limit;
    if (cancellable) run.cancel = &ending_;
    return run_program(run);
}

std::vector<NmDevice> NetworkManagerHotspotBackend::devices(bool* not_running) const {
    const ProgramResult listed = nmcli({"-t", "-f", "DEVICE,TYPE,STATE,CONNECTION", "device", "status"}, query_limit);
    if (!succeeded(listed)) {
        if (not_running) *not_running = true;
        return {};
    }
    std::vector<NmDevice> wifi;
    for (NmDevice& device : parse_device_status(listed.out)) {
        if (device.type != "wifi" || device.state == "unmanaged") continue;
        // NetworkManager serves the whole machine; a device outside this process's
        // network namespace would carry none of its traffic.
        const bool present = config_.interface_present ? config_.interface_present(device.name)
                                                       : if_nametoindex(device.name.c_str()) != 0;
        if (!present) continue;
        const ProgramResult ap = nmcli({"-t", "-f", "WIFI-PROPERTIES.AP", "device", "show", device.name}, query_limit);
        device.access_point = succeeded(ap) && parse_access_point_property(ap.out);
        wifi.push_back(std::move(device));
    }
    return wifi;
}

std::vector<HotspotClient> NetworkManagerHotspotBackend::leases(const std::string& device) const {
    // Written by the DHCP server NetworkManager runs for the shared connection.
    std::ifstream in(config_.leases_folder + "/dnsmasq-" + device + ".leases");
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return parse_dnsmasq_leases(text.str());
}

}  // namespace vandrel
