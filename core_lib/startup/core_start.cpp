#include "core_lib/startup/core_start.h"

#include <openssl/ssl.h>

#include <exception>
#include <functional>
#include <iostream>

#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/hotspot_control.h"
#include "core_lib/net/certificate.h"
#include "core_lib/net/resend_queue.h"
#include "core_lib/net/servers.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/config.h"
#include "core_lib/store/purge.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

// Runs one start-up step; a failure is reported and start-up goes on.
void step(const char* name, const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& e) {
        std::cerr << "core start-up: " << name << " failed: " << e.what() << "\n";
    } catch (...) {
        std::cerr << "core start-up: " << name << " failed\n";
    }
}

}  // namespace

void core_start() {
    step("TLS library", [] { OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS, nullptr); });
    // The first read sets the store up before any service uses it.
    step("store", [] { (void)db_config_get(true, "bogus"); });
    step("device id", [] { (void)get_userid(); });
    step("downloads folder", [] { (void)get_downloads_folder(); });
    step("certificate", [] { ensure_certificate(); });
    step("purge", [] { db_purge_old_records(); });
    step("servers", [] {
        rest_routes routes;
        routes.api = [](const std::string& endpoint, const std::string& body, const std::string& origin) {
            return handle_api_request(endpoint, body, origin);
        };
        start_servers(std::move(routes));
    });
    step("web share", [] {
        if (get_run_web_share_on_startup()) set_web_mode(true);
    });
    step("hotspot", [] {
        if (get_run_wifi_direct_on_startup()) start_hotspot();
    });
    step("resend wake-up", [] { trigger_resend(); });
    send_to_ui("core_started");
}

}  // namespace vandrel
