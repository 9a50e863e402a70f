#include "MeskRuntimeComponent/ui_event_channel.h"

#include "MeskRuntimeComponent/string_conversion.h"

#include <iostream>
#include <memory>
#include <mutex>
#include <optional>

namespace vandrel {

namespace {
std::mutex sink_mutex;
std::shared_ptr<const UiSink> current_sink;
}  // namespace

void set_ui_sink(UiSink sink) {
    auto next = sink ? std::make_shared<const UiSink>(std::move(sink)) : nullptr;
    std::lock_guard<std::mutex> lock(sink_mutex);
    current_sink = std::move(next);
}

void send_to_ui(std::string text) {
    std::shared_ptr<const UiSink> sink;
    {
        std::lock_guard<std::mutex> lock(sink_mutex);
        sink = current_sink;
    }
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

}  // namespace vandrel
