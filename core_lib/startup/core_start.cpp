#include "core_lib/startup/core_start.h"

#include <openssl/ssl.h>

#include <exception>
#include <functional>
#include <iostream>

#include "core_lib/api/api_dispatcher.h"
#include "core_lib/api/api_origin.h"
#include "core_lib/api/hotspot_control.h"
#include "core_lib/net/delivery/events_upload.h"
#include "core_lib/net/delivery/notification_mirror.h"
#include "core_lib/net/delivery/resend_loop.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/net/discovery/cloud_discovery.h"
#include "core_lib/net/discovery/lan_announce.h"
#include "core_lib/net/discovery/network_watch.h"
#include "core_lib/net/discovery/peer_refresh.h"
#include "core_lib/net/http/certificate.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/servers.h"
#include "core_lib/net/transfer/download_client.h"
#include "core_lib/net/transfer/file_service.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/config.h"
#include "core_lib/store/db_pool.h"
#include "core_lib/store/purge.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/storage_problems.h"

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

rest_routes core_rest_routes() {
    rest_routes routes;
    routes.api = [](const std::string& endpoint, const std::string& body, const std::string& origin) {
        return handle_api_request(endpoint, body, origin);
    };
    // This device's calls to itself are the self test's loop-back.
    routes.self_origin = origin_test;
    routes.download = [](const http_request& request, const std::string&) { return serve_download_request(request); };
    routes.thumbnail = [](const http_request& request, const std::string& rest) {
        return serve_thumbnail(request, rest, false);
    };
    routes.peer_thumbnail = [](const http_request& request, const std::string& rest) {
        return serve_thumbnail(request, rest, true);
    };
    return routes;
}

void core_start() {
    net_state& net = current_net::get();
    step("TLS library", [] { OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS, nullptr); });
    // The first read sets the store up before any service uses it. What it found wrong
    // with the database, repaired or not, is told to the interface.
    step("store", [] {
        try {
            (void)db_config_get(true, "bogus");
        } catch (const std::exception& e) {
            report_storage_problem(db_pool_path(), e.what());
            throw;
        }
        report_store_repairs();
    });
    step("device id", [] { (void)get_userid(); });
    step("downloads folder", [] { (void)get_downloads_folder(); });
    step("certificate", [] { ensure_certificate(); });
    step("purge", [] { db_purge_old_records(); });
    step("announce service", [] { start_udp_announce_service(); });
    step("servers", [] { start_servers(core_rest_routes()); });
    step("web share", [] {
        if (get_run_web_share_on_startup()) set_web_mode(true);
    });
    step("hotspot", [] {
        if (get_run_wifi_direct_on_startup()) start_hotspot();
    });
    step("service threads", [&net] {
        net.threads.start("mesk-netwatch", network_watch_loop);
        net.threads.start("mesk-resend", resend_loop);
        net.threads.start("mesk-events", events_upload_loop);
    });
    step("others folder", [] { ensure_others_folder(); });
    step("service threads", [&net] {
        net.threads.start("mesk-announce", lan_announce_loop);
        net.threads.start("mesk-refresh", refresh_peers_loop);
        net.threads.start("mesk-discovery", discovery_loop);
        net.threads.start("mesk-mirror", mirror_notification_loop);
    });
    step("resend wake-up", [] { trigger_resend(); });
    step("download thread", [] { start_download_thread(); });
    send_to_ui("core_started");
}

}  // namespace vandrel
