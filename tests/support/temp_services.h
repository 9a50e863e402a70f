// The network services and the request pools of a core, bound on top of a temp_store
// for the test's lifetime but not started: nothing listens, avatar fetches are off and
// peers are called on port 1 (the peers that tests make up are never reached), and
// going away joins every thread they started.
#pragma once

#include "core_lib/api/api_state.h"
#include "core_lib/net/net_state.h"

namespace vandrel::testing {

class temp_services {
public:
    explicit temp_services(net_config config = never_reached());
    static net_config never_reached() {
        net_config config;
        config.peer_port = 1;
        return config;
    }
    ~temp_services();
    temp_services(const temp_services&) = delete;
    temp_services& operator=(const temp_services&) = delete;

    net_state& net() { return net_; }

private:
    net_state net_;
    current_net::binding net_binding_{net_};
    api_state api_;
    current_api::binding api_binding_{api_};
};

}  // namespace vandrel::testing
