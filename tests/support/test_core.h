#pragma once
// The set-up of an in-process core for tests: the given platform and interface sink,
// every server on a port the system picks, on `address`.

#include <memory>
#include <string>

#include "core_lib/startup/core.h"

namespace vandrel::testing {

core_config loopback_core_config(std::shared_ptr<PlatformServices> platform, UiSink ui_sink,
                                 const std::string& address = "127.0.0.1");

}  // namespace vandrel::testing
