#include "MeskRuntimeComponent/hotspot.h"

#include <exception>
#include <iostream>
#include <utility>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/run_logged.h"
#include "core_lib/platform/ui_event_channel.h"

namespace vandrel {

WlanHostedNetworkHelper::WlanHostedNetworkHelper(std::shared_ptr<HotspotBackend> publisher)
    : backend(std::move(publisher)) {}

bool WlanHostedNetworkHelper::IsStarted() const {
    return backend->HasPublisher() && backend->Status() == PublisherStatus::Started;
}

void WlanHostedNetworkHelper::Start(const std::string& new_ssid, const std::string& new_passphrase) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        current_ssid = new_ssid;
        current_passphrase = new_passphrase;
    }
    // The handler holds its own copy of the credentials, never the helper: a backend
    // may report after the helper was replaced.
    backend->Start(
        new_ssid, new_passphrase,
        [new_ssid, new_passphrase](PublisherStatus status, PublisherError error) {
            OnAdvertisementStatusChanged(new_ssid, new_passphrase, status, error);
        },
        OnConnectionRequested);
}

void WlanHostedNetworkHelper::Stop() { backend->Stop(); }

std::string WlanHostedNetworkHelper::Ssid() const {
    std::lock_guard<std::mutex> lock(mutex);
    return current_ssid;
}

std::string WlanHostedNetworkHelper::Passphrase() const {
    std::lock_guard<std::mutex> lock(mutex);
    return current_passphrase;
}

void WlanHostedNetworkHelper::OnAdvertisementStatusChanged(const std::string& network, const std::string& key,
                                                           PublisherStatus status, PublisherError error) {
    try {
        switch (status) {
            case PublisherStatus::Created:
                break;
            case PublisherStatus::Started:
                send_to_ui(
                    Json(Json::object{{"action", "hotspot_created"}, {"ssid", network}, {"password", key}}).dump());
                break;
            case PublisherStatus::Stopped:
                send_to_ui(
                    Json(Json::object{{"action", "hotspot_stopped"}, {"reason", "hotspot stopped by user"}}).dump());
                break;
            case PublisherStatus::Aborted:
                send_to_ui(
                    Json(Json::object{{"action", "hotspot_stopped"}, {"reason", hotspot_abort_reason(error)}}).dump());
                break;
        }
    } catch (const std::exception& e) {
        std::cerr << "hotspot status handler: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "hotspot status handler: unknown error\n";
    }
}

void WlanHostedNetworkHelper::OnConnectionRequested(const HotspotClient& client) {
    run_logged("hotspot client", [&] {
        std::cerr << "hotspot: " << (client.name.empty() ? client.hardware_address : client.name) << " joined at "
                  << client.address << "\n";
    });
}

std::string hotspot_abort_reason(PublisherError error) {
    switch (error) {
        case PublisherError::RadioNotAvailable:
            return "Your Wi-Fi is turned off. Please turn it on.";
        case PublisherError::ResourceInUse:
            return "Wi-Fi direct is already in use. Please restart your device.";
        default:
            return "Reason: Unknown. Is your Wi-Fi turned on ?";
    }
}

}  // namespace vandrel
