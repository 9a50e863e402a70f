#include "core_lib/net/servers.h"

#include <algorithm>
#include <iostream>

#include <sys/resource.h>
#include <mutex>
#include <utility>

#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/http/certificate.h"
#include "core_lib/net/http/tls_context.h"
#include "core_lib/net/net_state.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"

namespace vandrel {

namespace {

// `threads` names the server's threads: THREADS-io-N for connections, THREADS-wk-N for requests.
std::unique_ptr<io_manager> serve(const std::string& label, const std::string& threads, http_server_config config,
                                  std::uint16_t& port, std::string& error) {
    auto manager =
        std::make_unique<io_manager>(label, std::chrono::milliseconds(50), server_io_threads(), threads + "-io");
    config.worker_thread_name = threads + "-wk";
    port = start_http_server(*manager, std::move(config), error);
    if (port == 0) return nullptr;
    return manager;
}

}  // namespace

http_limits peer_server_limits() {
    http_limits chosen;
    chosen.header_bytes = limits::header_bytes;
    chosen.body_bytes = limits::peer_body_bytes;
    chosen.header_timeout = limits::header_time;
    chosen.handshake_timeout = limits::handshake_time;
    chosen.buffered_body_bytes = limits::buffered_body_bytes;
    chosen.max_connections_per_address = limits::connections_per_address;
    chosen.workers = limits::request_workers;
    chosen.running_per_address = limits::requests_running_per_address;
    std::size_t open_limit = limits::connections_per_server;
    rlimit descriptors{};
    if (getrlimit(RLIMIT_NOFILE, &descriptors) == 0 && descriptors.rlim_cur != RLIM_INFINITY) {
        const auto usable = static_cast<std::size_t>(descriptors.rlim_cur);
        const std::size_t share =
            usable > limits::reserved_descriptors ? (usable - limits::reserved_descriptors) / 2 : 0;
        open_limit = std::min(open_limit, std::max<std::size_t>(share, limits::connections_per_address));
    }
    chosen.max_connections = open_limit;
    return chosen;
}

running_servers start_rest_servers(server_setup setup) {
    running_servers running;
    std::string error;

    std::shared_ptr<boost::asio::ssl::context> tls;
    try {
        tls = make_server_tls_context(setup.certificate_path);
    } catch (const std::exception& e) {
        report_service_not_started("rest server", e.what());
    }
    if (tls) {
        http_server_config config;
        config.host = setup.rest_host;
        config.port = setup.rest_port;
        config.tls = tls;
        config.limits = setup.limits;
        config.common_fields = rest_common_fields();
        config.handler = make_rest_handler(setup.routes);
        running.rest = serve("rest server", "mesk-rest", std::move(config), running.rest_port, error);
        if (!running.rest) {
            report_service_not_started("rest server", "could not bind to local host: " + error);
            try {
                show_toast("error", "could not bind to local host");
            } catch (const std::exception&) {
                // No platform to show it on: the report above stands.
            }
        }
    }

    http_server_config config;
    config.host = setup.loopback_host;
    config.port = setup.loopback_port;
    config.limits = setup.limits;
    config.common_fields = rest_common_fields();
    config.handler = make_loopback_handler(std::move(setup.routes));
    error.clear();
    running.loopback = serve("thumbnail server", "mesk-thumb", std::move(config), running.loopback_port, error);
    if (!running.loopback) report_service_not_started("thumbnail server", error);
    return running;
}

void start_servers(rest_routes routes) {
    net_state& net = current_net::get();
    std::lock_guard<std::mutex> lock(net.servers_mutex);
    if (net.servers.rest || net.servers.loopback) return;
    server_setup setup;
    try {
        setup.certificate_path = get_data_folder_path() + certificate_file_name;
    } catch (const std::exception& e) {
        // The certificate's load fails next and tells the interface.
        std::cerr << "no data folder for the certificate: " << e.what() << "\n";
    }
    setup.rest_host = net.config.bind_address;
    setup.rest_port = net.config.rest_port;
    setup.loopback_host = loopback_host(net.config);
    setup.loopback_port = net.config.loopback_port;
    setup.limits = peer_server_limits();
    setup.routes = std::move(routes);
    net.servers = start_rest_servers(std::move(setup));
}

void stop_servers() { current_net::get().stop_servers(); }

}  // namespace vandrel
