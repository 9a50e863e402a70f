// A hotspot run by NetworkManager through its command-line client, nmcli (started with
// an argument list, never through a shell). A connection profile of our own, kept in
// NetworkManager's memory only, puts a free Wi-Fi device that can act as an access point
// into access-point mode with WPA2 and shares this machine's connection from the hotspot
// gateway address. One worker thread, started by the first Start, runs the calls in
// order; while the hotspot runs it looks at the device's state and at the leases
// NetworkManager's DHCP server gave out every poll interval, and reports what changed.
// The destructor drops the handlers, stops a hotspot it started and joins the worker.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "MeskRuntimeComponent/hotspot.h"
#include "MeskRuntimeComponent/nmcli_output.h"
#include "MeskRuntimeComponent/program_runner.h"

namespace vandrel {

// The name of the connection profile the hotspot runs as.
inline const std::string hotspot_connection_name = "mesk-hotspot";

struct NetworkManagerConfig {
    std::string nmcli;  // full path; "": NetworkManager cannot be reached here
    std::string leases_folder = "/var/lib/NetworkManager";
    // Whether a network interface of that name is this process's own (in its network
    // namespace); unset: looked up by name.
    std::function<bool(const std::string& name)> interface_present;
    std::chrono::milliseconds poll_interval{2000};
    std::chrono::seconds activation_wait{60};
    // How long HasFeature keeps its answer.
    std::chrono::milliseconds feature_cache{10000};
};

// nmcli found in the ":"-separated folder list; the rest as by default.
NetworkManagerConfig network_manager_config(const std::string& path_variable);

// The nmcli arguments (after the program) that make the hotspot's profile.
std::vector<std::string> hotspot_profile_arguments(const std::string& device, const std::string& ssid,
                                                   const std::string& passphrase);

class NetworkManagerHotspotBackend : public HotspotBackend {
public:
    explicit NetworkManagerHotspotBackend(NetworkManagerConfig config);
    ~NetworkManagerHotspotBackend() override;
    NetworkManagerHotspotBackend(const NetworkManagerHotspotBackend&) = delete;
    NetworkManagerHotspotBackend& operator=(const NetworkManagerHotspotBackend&) = delete;

    // NetworkManager runs and one of this process's Wi-Fi devices can act as an access
    // point (its radio may be off).
    bool HasFeature() const override;
    // Returns at once; the worker reports Created once the profile is made, then Started
    // or Aborted.
    void Start(const std::string& ssid, const std::string& passphrase, StatusHandler on_status,
               ClientHandler on_client) override;
    void Stop() override;
    bool HasPublisher() const override;
    PublisherStatus Status() const override;

private:
    struct Command {
        bool start = true;
        std::uint64_t generation = 0;
        std::string ssid;
        std::string passphrase;
    };

    void run_worker();
    void start_hotspot(const Command& command);
    void stop_hotspot(const Command& command);
    void look_at_hotspot();
    // Reports to the handlers of that generation only; a later Start dropped earlier ones.
    void report(std::uint64_t generation, PublisherStatus status, PublisherError error);
    void report_client(std::uint64_t generation, const HotspotClient& client);

    // Runs nmcli with these arguments; a cancellable run ends when the backend does.
    ProgramResult nmcli(std::vector<std::string> arguments, std::chrono::milliseconds limit,
                        bool cancellable = true) const;
    // The devices with their access-point property; empty when NetworkManager does not
    // answer (then `not_running` is set).
    std::vector<NmDevice> devices(bool* not_running) const;
    std::vector<HotspotClient> leases(const std::string& device) const;

    const NetworkManagerConfig config_;
    // Set by the destructor: a running nmcli is killed.
    std::atomic<bool> ending_{false};

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Command> commands_;
    std::uint64_t generation_ = 0;
    bool has_publisher_ = false;
    PublisherStatus status_ = PublisherStatus::Created;
    std::shared_ptr<const StatusHandler> on_status_;
    std::shared_ptr<const ClientHandler> on_client_;
    std::thread worker_;

    // The worker's own.
    std::string device_;                    // where the hotspot runs
    bool watching_ = false;                 // the hotspot runs: look at it every poll interval
    std::uint64_t watched_generation_ = 0;  // the Start it runs for
    bool maybe_up_ = false;                 // an activation was asked for and not taken back
    std::set<std::string> seen_clients_;    // hardware addresses with a lease already

    mutable std::mutex feature_mutex_;
    mutable bool feature_known_ = false;
    mutable bool feature_ = false;
    mutable std::chrono::steady_clock::time_point feature_read_at_;
};

}  // namespace vandrel
