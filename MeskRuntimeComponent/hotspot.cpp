#include "MeskRuntimeComponent/hotspot.h"

#include <exception>
#include <iostream>
#include <utility>

#include "MeskRuntimeComponent/ui_event_channel.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/sha256.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

constexpr std::size_t max_ssid_bytes = 32;

std::string cut_at_character_boundary(std::string text, std::size_t max_bytes) {
    if (text.size() <= max_bytes) return text;
    std::size_t cut = max_bytes;
    // Never leave a character's lead byte without its continuation bytes.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    text.resize(cut);
    return text;
}

}  // namespace

// --- simulated backend ---

void SimulatedHotspotBackend::Start(const std::string&, const std::string&, StatusHandler on_status) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        has_publisher = true;
        status = PublisherStatus::Created;
        handler = std::make_shared<const StatusHandler>(std::move(on_status));
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

// --- helper ---

WlanHostedNetworkHelper::WlanHostedNetworkHelper(std::shared_ptr<HotspotBackend> backend)
    : backend(std::move(backend)) {}

bool WlanHostedNetworkHelper::IsStarted() const {
    return backend->HasPublisher() && backend->Status() == PublisherStatus::Started;
}

void WlanHostedNetworkHelper::Start(const std::string& new_ssid, const std::string& new_passphrase) {
    {
        std::lock_guard<std::mutex> lock(mutex);
        ssid = new_ssid;
        passphrase = new_passphrase;
    }
    // The handler holds its own copy of the credentials, never the helper: a backend
    // may report after the helper was replaced.
    backend->Start(new_ssid, new_passphrase,
                   [new_ssid, new_passphrase](PublisherStatus status, PublisherError error) {
                       OnAdvertisementStatusChanged(new_ssid, new_passphrase, status, error);
                   });
}

void WlanHostedNetworkHelper::Stop() { backend->Stop(); }

std::string WlanHostedNetworkHelper::Ssid() const {
    std::lock_guard<std::mutex> lock(mutex);
    return ssid;
}

std::string WlanHostedNetworkHelper::Passphrase() const {
    std::lock_guard<std::mutex> lock(mutex);
    return passphrase;
}

void WlanHostedNetworkHelper::OnAdvertisementStatusChanged(const std::string& network, const std::string& key,
                                                           PublisherStatus status, PublisherError error) {
    try {
        switch (status) {
            case PublisherStatus::Created:
                break;
            case PublisherStatus::Started:
                send_to_ui(Json(Json::object{{"action", "hotspot_created"}, {"ssid", network}, {"password", key}})
                               .dump());
                break;
            case PublisherStatus::Stopped:
                send_to_ui(Json(Json::object{{"action", "hotspot_stopped"}, {"reason", "hotspot stopped by user"}}).dump());
                break;
            case PublisherStatus::Aborted:
                send_to_ui(Json(Json::object{{"action", "hotspot_stopped"}, {"reason", hotspot_abort_reason(error)}}).dump());
                break;
        }
    } catch (const std::exception& e) {
        std::cerr << "hotspot status handler: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "hotspot status handler: unknown error\n";
    }
}

// --- bridge ---

namespace {

std::mutex helper_mutex;

std::shared_ptr<WlanHostedNetworkHelper>& helper_slot() {
    // Never destroyed: a status report may still arrive while the process ends.
    static auto* slot =
        new std::shared_ptr<WlanHostedNetworkHelper>(std::make_shared<WlanHostedNetworkHelper>(
            std::make_shared<SimulatedHotspotBackend>()));
    return *slot;
}

std::shared_ptr<WlanHostedNetworkHelper> hotspot_helper() {
    std::lock_guard<std::mutex> lock(helper_mutex);
    return helper_slot();
}

}  // namespace

hotspot_credentials make_hotspot_credentials(const std::string& alias) {
    hotspot_credentials made;
    made.ssid = cut_at_character_boundary("MeskWiFi-" + erase_all(alias, " "), max_ssid_bytes);
    made.passphrase = sha256_hex(made.ssid + "31415pawn27182").substr(0, 8);
    return made;
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

void install_hotspot_backend(std::shared_ptr<HotspotBackend> backend) {
    auto next = std::make_shared<WlanHostedNetworkHelper>(std::move(backend));
    std::lock_guard<std::mutex> lock(helper_mutex);
    helper_slot() = std::move(next);
}

bool start_hotspot() {
    auto helper = hotspot_helper();
    hotspot_credentials made = make_hotspot_credentials(get_alias());
    helper->Start(made.ssid, made.passphrase);
    send_to_ui(Json(Json::object{{"action", "device_updated"}}).dump());
    return helper->IsStarted();
}

bool stop_hotspot() {
    hotspot_helper()->Stop();
    return true;
}

bool is_hotspot_started() { return hotspot_helper()->IsStarted(); }

bool has_hotspot_feature() { return true; }

std::string get_hotspot_ssid() { return hotspot_helper()->Ssid(); }

std::string get_hotspot_passphrase() { return hotspot_helper()->Passphrase(); }

}  // namespace vandrel
