// The core object: owns everything the core keeps while it runs (the platform links,
// the store, the network services, the request pools), binds each part for the free
// functions that reach it, starts the core and stops it again. One core runs per
// process at a time. stop() (also run by the destructor) wakes and joins every thread
// that the core started (a self test under way restores what it changed first), lets its
// hotspot go and closes its servers and its store.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>

#include "core_lib/api/api_state.h"
#include "core_lib/net/net_config.h"
#include "core_lib/net/net_state.h"
#include "core_lib/platform/platform_state.h"
#include "core_lib/selftest/self_test_runner.h"
#include "core_lib/store/store_state.h"

namespace vandrel {

class PlatformServices;
class hotspot_service;

struct core_config {
    std::shared_ptr<PlatformServices> platform;
    UiSink ui_sink;                            // empty: texts for the interface are dropped
    std::shared_ptr<hotspot_service> hotspot;  // null: this device has no hotspot
    net_config network;
    // Tests only: a check of the self test made to go wrong on purpose.
    self_test_fault test_fault;
};

class core {
public:
    // Binds the parts; starts nothing. Throws std::logic_error when a core runs already.
    explicit core(core_config config);
    ~core();
    core(const core&) = delete;
    core& operator=(const core&) = delete;

    // Runs the start-up on the calling thread, once; "core_started" is its last word to
    // the interface. A step that fails is reported and the later steps run.
    void start();
    // The same on a thread of the core's own, which stop() joins.
    void start_in_background();
    // Ends what start() began, in reverse order. A second call does nothing.
    void stop();

    // The ports the servers listen on, 0 for a server that is not serving.
    std::uint16_t rest_port();
    std::uint16_t loopback_port();

private:
    // Declared in the order of the layers: each part is bound while those after it live.
    platform_state platform_;
    current_platform::binding platform_binding_;
    store_state store_;
    current_store::binding store_binding_;
    net_state net_;
    current_net::binding net_binding_;
    api_state api_;
    current_api::binding api_binding_;
    // Runs on the parts above; stopped before them.
    self_test_runner self_test_;

    std::mutex lifecycle_mutex_;
    bool started_ = false;  // guarded by lifecycle_mutex_
    bool stopped_ = false;  // guarded by lifecycle_mutex_
    std::thread startup_thread_;
};

}  // namespace vandrel
