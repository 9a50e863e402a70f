#include "tests/support/test_core.h"

#include <utility>

namespace vandrel::testing {

core_config loopback_core_config(std::shared_ptr<PlatformServices> platform, UiSink ui_sink,
                                 const std::string& address) {
    core_config config;
    config.platform = std::move(platform);
    config.ui_sink = std::move(ui_sink);
    config.network.bind_address = address;
    config.network.rest_port = 0;
    config.network.loopback_port = 0;
    config.network.web_port = 0;
    return config;
}

}  // namespace vandrel::testing
