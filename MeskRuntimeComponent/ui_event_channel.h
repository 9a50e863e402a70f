// send_to_ui: the one way for any thread to tell the interface something.
// Texts go to the installed sink (the runtime class installs one that posts to its
// dispatcher), cut at a NUL byte; a text that is not UTF-8 is dropped with a log line, and
// with no sink installed every text is dropped. Never blocks, never throws.
#pragma once

#include <functional>
#include <string>

namespace vandrel {

using UiSink = std::function<void(const std::string& text)>;

void send_to_ui(std::string text);

// Replaces the sink; an empty function drops every text from then on.
void set_ui_sink(UiSink sink);

}  // namespace vandrel
