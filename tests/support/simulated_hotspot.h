// A hotspot backend for tests: it goes through the publisher's states at once, on the
// calling thread (Created then Started from Start, Stopped from Stop), and lets the test
// play what the radio does on its own: an abort, a device joining, the feature missing.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "MeskRuntimeComponent/hotspot.h"

namespace vandrel::testing {

class SimulatedHotspotBackend : public HotspotBackend {
public:
    bool HasFeature() const override;
    void Start(const std::string& ssid, const std::string& passphrase, StatusHandler on_status,
               ClientHandler on_client) override;
    void Stop() override;
    bool HasPublisher() const override;
    PublisherStatus Status() const override;

    // Ends the advertisement with an error.
    void Abort(PublisherError error);
    // A device joins the current advertisement.
    void Join(const HotspotClient& client);
    void SetFeature(bool present);

private:
    void report(PublisherStatus status, PublisherError error);

    mutable std::mutex mutex;
    bool feature = true;
    bool has_publisher = false;
    PublisherStatus status = PublisherStatus::Created;
    std::shared_ptr<const StatusHandler> handler;
    std::shared_ptr<const ClientHandler> client_handler;
};

}  // namespace vandrel::testing
