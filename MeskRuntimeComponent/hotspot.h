// The Wi-Fi Direct hotspot: WlanHostedNetworkHelper drives a HotspotBackend (the
// platform's advertisement publisher), turns its status changes into the UI events
// "hotspot_created" and "hotspot_stopped", and is the core's hotspot_service. On Linux
// the backend is simulated: it goes through the publisher's states at once.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core_lib/platform/hotspot_service.h"

namespace vandrel {

enum class PublisherStatus { Created, Started, Stopped, Aborted };
enum class PublisherError { Success = 0, RadioNotAvailable = 1, ResourceInUse = 2, Other = 3 };

class HotspotBackend {
public:
    using StatusHandler = std::function<void(PublisherStatus, PublisherError)>;
    virtual ~HotspotBackend() = default;
    // Replaces any earlier publisher (which is released, not stopped, and whose handler
    // is dropped) with one advertising this network, and starts it.
    virtual void Start(const std::string& ssid, const std::string& passphrase, StatusHandler on_status) = 0;
    // Stops the current publisher; its handler reports the stop. Nothing when none.
    virtual void Stop() = 0;
    // False before the first Start.
    virtual bool HasPublisher() const = 0;
    virtual PublisherStatus Status() const = 0;
};

// Reports Created then Started from Start, Stopped from Stop, on the calling thread.
class SimulatedHotspotBackend : public HotspotBackend {
public:
    void Start(const std::string& ssid, const std::string& passphrase, StatusHandler on_status) override;
    void Stop() override;
    bool HasPublisher() const override;
    PublisherStatus Status() const override;
    // What the radio does on its own: ends the advertisement with an error.
    void Abort(PublisherError error);

private:
    void report(PublisherStatus status, PublisherError error);

    mutable std::mutex mutex;
    bool has_publisher = false;
    PublisherStatus status = PublisherStatus::Created;
    std::shared_ptr<const StatusHandler> handler;
};

class WlanHostedNetworkHelper : public hotspot_service {
public:
    explicit WlanHostedNetworkHelper(std::shared_ptr<HotspotBackend> backend);

    bool has_feature() const override { return true; }
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

    std::shared_ptr<HotspotBackend> backend;
    mutable std::mutex mutex;  // guards the two texts against the status handler
    std::string current_ssid;
    std::string current_passphrase;
};

// The reason text of "hotspot_stopped" for an aborted advertisement.
std::string hotspot_abort_reason(PublisherError error);

}  // namespace vandrel
