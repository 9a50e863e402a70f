#include "fuzz/support/fuzz_core.h"

#include <openssl/ssl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <random>
#include <stdexcept>

#include "MeskRuntimeComponent/dispatcher.h"
#include "MeskRuntimeComponent/linux_platform_services.h"
#include "core_lib/api/background_jobs.h"
#include "core_lib/foundation/json.h"
#include "core_lib/net/http/http_server.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/http/tls_context.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/net/rest_server.h"
#include "core_lib/net/servers.h"
#include "core_lib/startup/core.h"
#include "core_lib/startup/core_start.h"
#include "core_lib/store/config.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/shared_pending.h"
#include "core_lib/store/uploads.h"
#include "tests/runtime/runtime_test_folder.h"
#include "tests/support/net_test_support.h"
#include "tests/support/test_images.h"

namespace vandrel::fuzzing {

namespace {

using namespace std::chrono_literals;

// What the process keeps while it fuzzes, in the order it is made; stopped in reverse.
struct running_parts {
    testing::TestFolder folder;
    std::shared_ptr<Dispatcher> ui_thread = Dispatcher::create();
    std::shared_ptr<LinuxPlatformServices> services;
    std::unique_ptr<core> running;
    // The peer: pings answered as peer_id with a key of its own; nothing else served.
    std::unique_ptr<io_manager> peer;
    // The plain request path of the REST server.
    std::unique_ptr<io_manager> rest;

    ~running_parts() {
        rest.reset();
        if (running) running->stop();
        peer.reset();
    }
};

running_parts* parts = nullptr;

void stop_at_exit() {
    delete parts;
    parts = nullptr;
}

void require(bool holds, const std::string& what) {
    if (!holds) throw std::runtime_error("fuzz core: " + what);
}

http_answer peer_answer(const http_request& request) {
    http_answer answer;
    if (request.path == "/api/v1/ping") {
        answer.body =
            Json(Json::object{
                     {"alias", "Fuzz Peer"}, {"remote_id", peer_id}, {"status", "success"}, {"sys_info", "fuzz/os"}})
                .dump();
    } else if (request.path.rfind("/api/v1/", 0) == 0) {
        answer.body = R"({"status": "success"})";
    } else {
        // Downloads from the peer find nothing, so no file piles up here.
        answer.status = 404;
    }
    return answer;
}

}  // namespace

fuzz_core& fuzz_core::get() {
    static fuzz_core* made = [] {
        auto* core = new fuzz_core();
        try {
            core->start();
        } catch (const std::exception& e) {
            std::cerr << e.what() << "\n";
            std::abort();
        }
        return core;
    }();
    return *made;
}

fuzz_core::fuzz_core() {
    std::mt19937 draw(std::random_device{}());
    std::uniform_int_distribution<int> octet(2, 253);
    subnet_ = "127." + std::to_string(octet(draw)) + ".";
    host_octet_ = octet(draw);
    own_address_ = subnet_ + std::to_string(host_octet_) + ".1";
    peer_address_ = subnet_ + std::to_string(host_octet_) + ".2";
}

std::string fuzz_core::stranger_address(unsigned n) const {
    return subnet_ + std::to_string(host_octet_) + "." + std::to_string(3 + n % 250);
}

std::string fuzz_core::fresh_address(std::uint32_t n) const {
    // 127.(X+1..).B.C over 2^24 - 2^16 addresses; never the core's own network.
    const std::uint32_t spread = n % (254u * 65536u);
    std::uint32_t first = 1 + spread / 65536;
    if (subnet_ == "127." + std::to_string(first) + ".") first = first == 254 ? 1 : first + 1;
    return "127." + std::to_string(first) + "." + std::to_string((spread >> 8) & 0xff) + "." +
           std::to_string(1 + (spread & 0xff) % 254);
}

void fuzz_core::start() {
    // OpenSSL frees each thread's state as the thread ends, until its own exit handler
    // runs: the core must stop before it, so its handler is registered first.
    OPENSSL_init_ssl(0, nullptr);
    parts = new running_parts();
    std::atexit(stop_at_exit);
    running_parts& p = *parts;

    LinuxPlatformConfig platform;
    platform.environment = PlatformEnvironment{};
    platform.environment.home = p.folder.make_folder("home");
    platform.launcher.find_program = [](const std::string&) { return std::string(); };
    platform.network.interfaces = [] { return std::vector<NetworkInterface>{}; };
    platform.network.wireless_links = [] { return std::vector<WirelessLink>{}; };
    p.services = std::make_shared<LinuxPlatformServices>(p.ui_thread, platform);

    core_config config;
    config.platform = p.services;
    config.network.bind_address = own_address_;
    config.network.rest_port = 0;
    config.network.loopback_port = 0;
    config.network.web_port = 0;
    config.network.announce_port = 0;
    p.running = std::make_unique<core>(std::move(config));
    // A fixed id, so that inputs can name this device as a chat's receiver.
    db_config_set(true, "userid", own_id);
    set_webshare_password(web_code);
    p.running->start();
    loopback_port_ = p.running->loopback_port();
    require(loopback_port_ != 0, "no thumbnail server");
    if (!is_web_mode_running()) set_web_mode(true);
    web_port_ = current_net::get().web_share.port();
    require(web_port_ != 0, "no web-share server");

    // The peer, proven at its address by its key.
    test::write_self_signed_pem(p.folder / "peer.pem", 2048, peer_id, 7, 0, 86400L * 365, false);
    p.peer = std::make_unique<io_manager>("fuzz peer");
    http_server_config peer;
    peer.host = peer_address_;
    peer.tls = make_server_tls_context(p.folder / "peer.pem");
    peer.handler = peer_answer;
    std::string error;
    const std::uint16_t peer_port = start_http_server(*p.peer, std::move(peer), error);
    require(peer_port != 0, "no peer server: " + error);
    current_net::get().peer_port = peer_port;
    require(prove_peer_at(peer_address_, 20s) == peer_id, "the peer is not proven");

    // A picture of this device's, offered to the peer and shared on the web share.
    const std::string shared_folder = p.folder.make_folder("shared");
    require(testing::write_test_image(p.folder / "shared/picture.png", 40, 30), "no picture");
    const std::string picture = p.folder / "shared/picture.png";
    const std::string storage_path = storage_path_for_file(shared_folder, picture);
    require(!storage_path.empty(), "no storage path for the picture");
    db_store_upload({Json::object{{"id", offered_file_id},
                                  {"filename", "picture.png"},
                                  {"filesize", std::to_string(std::filesystem::file_size(picture))},
                                  {"fileurl", storage_path}}},
                    "", offered_upload_id, own_id, peer_id);
    db_add_shared_files({Json::object{{"fileurl", storage_path}, {"filename", "picture.png"}}});
    // A picture received from the peer, arrived already.
    const std::string received_folder = p.folder.make_folder("received");
    std::filesystem::copy_file(picture, p.folder / "received/picture.png");
    const std::string received = storage_path_for_file(received_folder, p.folder / "received/picture.png");
    require(db_store_download({Json::object{{"id", received_file_id},
                                            {"filename", "picture.png"},
                                            {"filesize", std::to_string(std::filesystem::file_size(picture))},
                                            {"fileurl", received}}},
                              "", received_download_id, peer_id, own_id),
            "no received file");
    db_set_file_received_status(received_file_id, received_download_id, "complete");
    for (const Json& shared : db_get_shared_files()) shared_file_id_ = shared["id"].string_value();
    require(!shared_file_id_.empty(), "no shared file");

    // The REST server's routes and limits over plain HTTP.
    p.rest = std::make_unique<io_manager>("fuzz rest");
    http_server_config rest;
    rest.host = own_address_;
    rest.limits = peer_server_limits();
    rest.common_fields = rest_common_fields();
    rest.handler = make_rest_handler(core_rest_routes());
    rest_port_ = start_http_server(*p.rest, std::move(rest), error);
    require(rest_port_ != 0, "no REST request path: " + error);
    settle();
}

void fuzz_core::settle() const {
    // What the core posted for the interface thread (toasts) runs here.
    parts->ui_thread->drain();
    // Announces start proofs, proofs and requests start background jobs.
    net_state& net = current_net::get();
    const bool idle = net.announce.handling.wait_idle(60s) && net.proofs.datagram_pool.wait_idle(60s) &&
                      net.proofs.pool.wait_idle(60s) && wait_for_background_jobs(60s);
    if (!idle) {
        std::cerr << "fuzz core: work an input started still runs after a minute\n";
        std::abort();
    }
}

}  // namespace vandrel::fuzzing
