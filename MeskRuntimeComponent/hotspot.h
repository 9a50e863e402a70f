// The Wi-Fi Direct hotspot: WlanHostedNetworkHelper drives a HotspotBackend (the
// platform's advertisement publisher), turns its status changes into the UI events
// "hotspot_created" and "hotspot_stopped", and is the core's hotspot_service. On Linux
// the backend is NetworkManager's (network_manager_hotspot.h).
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core_lib/platform/hotspot_service.h"

namespace vandrel {

enum class PublisherStatus { Created, Started, Stopped, Aborted };
enum class PublisherError { Success = 0, RadioNotAvailable = 1, ResourceInUse = 2, Other = 3 };

// A device that joined the hotspot, as far as the backend learns of it.
struct HotspotClient {
    std::string hardware_address;
    std::string address;  // the IP address it was given
    std::string name;     // the host name it gave, "" for none
};

class HotspotBackend {
public:
    using StatusHandler = std::function<void(PublisherStatus, PublisherError)>;
    using ClientHandler = std::function<void(const HotspotClient&)>;
    virtual ~HotspotBackend() = default;
    // Whether this machine can run a hotspot at all.
    virtual bool HasFeature() const = 0;
    // Replaces any earlier publisher (which is released, not stopped, and whose handlers
    // are dropped) with one advertising this network, and starts it. The handlers may be
    // called on any thread, never while the backend holds a lock.
    virtual void Start(const std::string& ssid, const std::string& passphrase, StatusHandler on_status,
                       ClientHandler on_client) = 0;
    // Stops the current publisher; its handler reports the stop. Nothing when none.
    virtual void Stop() = 0;
    // False before the first Start.
    virtual bool HasPublisher() const = 0;
    virtual PublisherStatus Status() const = 0;
};

class WlanHostedNetworkHelper : public hotspot_service {
public:
    explicit WlanHostedNetworkHelper(std::shared_ptr<HotspotBackend> backend);

    bool has_feature() const override { return backend->HasFeature(); }
    bool start(const std::string& ssid, const std::string& passphrase) override {
        Start(ssid, passphrase);
        return IsStarted();
    }
    void stop() override { Stop(); }
    bool is_started() const override { return IsStarted(); }
    std::string ssid() const override { return Ssid(); }
    std::string passphrase() const override { return Passphrase(); }

    bool IsStarted() const;
    // Keeps the credentials (the getters return them, also after a stop) and starts.
    void Start(const std::string& ssid, const std::string& passphrase);
    void Stop();
    std::string Ssid() const;
    std::string Passphrase() const;

private:
    static void OnAdvertisementStatusChanged(const std::string& network, const std::string& key, PublisherStatus status,
                                             PublisherError error);
    // A device joined: noted on standard error; nothing is kept and the interface is not
    // told.
    static void OnConnectionRequested(const HotspotClient& client);

    std::shared_ptr<HotspotBackend> backend;
    mutable std::mutex mutex;  // guards the two texts against the status handler
    std::string current_ssid;
    std::string current_passphrase;
};

// The reason text of "hotspot_stopped" for an aborted advertisement.
std::string hotspot_abort_reason(PublisherError error);

}  // namespace vandrel
