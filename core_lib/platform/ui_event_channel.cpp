#include "core_lib/platform/ui_event_channel.h"

#include "core_lib/foundation/json.h"
#include "core_lib/platform/string_conversion.h"

#include <iostream>
#include <memory>
#include <optional>

namespace vandrel {

void set_ui_sink(UiSink sink) {
    if (platform_state* platform = current_platform::find()) platform->set_sink(std::move(sink));
}

void send_to_ui(std::string text) {
    platform_state* platform = current_platform::find();
    if (!platform) return;
    std::shared_ptr<const UiSink> sink = platform->sink();
    if (!sink) return;
    std::optional<std::string> deliverable = text_for_ui(std::move(text));
    if (!deliverable) {
        std::cerr << "send_to_ui: dropped an event that is not UTF-8\n";
        return;
    }
    try {
        (*sink)(*deliverable);
    } catch (const std::exception& e) {
        std::cerr << "send_to_ui: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "send_to_ui: unknown error\n";
    }
}

void report_service_not_started(const std::string& service, const std::string& message) {
    std::cerr << service << " not started: " << message << "\n";
    send_to_ui(
        Json(Json::object{{"action", "service_not_started"}, {"message", message}, {"service", service}}).dump());
}

}  // namespace vandrel
