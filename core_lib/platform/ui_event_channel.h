// send_to_ui: the one way for any thread to tell the interface something.
// Texts go to the sink of the running core (the runtime class sets one that posts to its
// dispatcher), cut at a NUL byte; a text that is not UTF-8 is dropped with a log line, and
// with no sink, or no core running, every text is dropped. Never blocks, never throws.
#pragma once

#include <string>

#include "core_lib/platform/platform_state.h"

namespace vandrel {

void send_to_ui(std::string text);

// A service of the core that could not start: "SERVICE not started: MESSAGE" on standard
// error, and {"action": "service_not_started", "message": ..., "service": ...} to the interface.
void report_service_not_started(const std::string& service, const std::string& message);

// Replaces the running core's sink (nothing when no core runs); an empty function drops every text from then on.
void set_ui_sink(UiSink sink);

}  // namespace vandrel
