#include "tests/support/simulated_hotspot.h"

#include <utility>

namespace vandrel::testing {

bool SimulatedHotspotBackend::HasFeature() const {
    std::lock_guard<std::mutex> lock(mutex);
    return feature;
}

void SimulatedHotspotBackend::SetFeature(bool present) {
    std::lock_guard<std::mutex> lock(mutex);
    feature = present;
}

void SimulatedHotspotBackend::Start(const std::string&, const std::string&, StatusHandler on_status,
                                    ClientHandler on_client) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        has_publisher = true;
        status = PublisherStatus::Created;
        handler = std::make_shared<const StatusHandler>(std::move(on_status));
        client_handler = std::make_shared<const ClientHandler>(std::move(on_client));
    }
    report(PublisherStatus::Created, PublisherError::Success);
    {
        std::lock_guard<std::mutex> lock(mutex);
        status = PublisherStatus::Started;
    }
    report(PublisherStatus::Started, PublisherError::Success);
}

void SimulatedHotspotBackend::Stop() {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!has_publisher) return;
        status = PublisherStatus::Stopped;
    }
    report(PublisherStatus::Stopped, PublisherError::Success);
}

void SimulatedHotspotBackend::Abort(PublisherError error) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!has_publisher) return;
        status = PublisherStatus::Aborted;
    }
    report(PublisherStatus::Aborted, error);
}

void SimulatedHotspotBackend::Join(const HotspotClient& client) {
    std::shared_ptr<const ClientHandler> current;
    {
        std::lock_guard<std::mutex> lock(mutex);
        current = client_handler;
    }
    if (current && *current) (*current)(client);
}

bool SimulatedHotspotBackend::HasPublisher() const {
    std::lock_guard<std::mutex> lock(mutex);
    return has_publisher;
}

PublisherStatus SimulatedHotspotBackend::Status() const {
    std::lock_guard<std::mutex> lock(mutex);
    return status;
}

void SimulatedHotspotBackend::report(PublisherStatus reported, PublisherError error) {
    std::shared_ptr<const StatusHandler> current;
    {
        std::lock_guard<std::mutex> lock(mutex);
        current = handler;
    }
    // Called without our lock: the handler may ask for the status.
    if (current && *current) (*current)(reported, error);
}

}  // namespace vandrel::testing
