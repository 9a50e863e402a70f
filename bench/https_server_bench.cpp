// Requests per second of the REST server over HTTPS on 127.0.0.1: keep-alive requests
// on one connection, and post_json calls (a new connection and handshake each).
#include <benchmark/benchmark.h>

#include <boost/asio/ssl.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include "core_lib/net/http/certificate.h"
#include "core_lib/net/http/https_client.h"
#include "core_lib/net/http/tls_context.h"
#include "core_lib/net/servers.h"

#include <cstdlib>
#include <filesystem>
#include <memory>

namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using namespace vandrel;

const std::string hello_reply = R"({"message": "hello world", "status": "success"})";

struct bench_server {
    bench_server() {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/mesk-bench-XXXXXX";
        if (!::mkdtemp(pattern.data())) std::abort();
        folder = pattern + "/";
        if (!ensure_certificate_in(folder)) std::abort();
        server_setup setup;
        setup.certificate_path = folder + certificate_file_name;
        setup.rest_host = "127.0.0.1";
        setup.rest_port = 0;
        setup.loopback_port = 0;
        setup.routes.api = [](const std::string&, const std::string&, const std::string&) { return hello_reply; };
        servers = start_rest_servers(std::move(setup));
        if (!servers.rest) std::abort();
    }
    ~bench_server() {
        servers = running_servers{};
        std::filesystem::remove_all(folder);
    }
    std::string folder;
    running_servers servers;
};

bench_server& server() {
    static bench_server instance;
    return instance;
}

void BM_KeepAliveRequests(benchmark::State& state) {
    net::io_context io;
    auto context = make_client_tls_context();
    beast::ssl_stream<beast::tcp_stream> stream(io, *context);
    beast::get_lowest_layer(stream).connect(
        net::ip::tcp::endpoint(net::ip::make_address("127.0.0.1"), server().servers.rest_port));
    stream.handshake(net::ssl::stream_base::client);
    http::request<http::string_body> request{http::verb::post, "/api/v1/hello_world", 11};
    request.set(http::field::host, "127.0.0.1");
    request.body() = "{}";
    request.prepare_payload();
    beast::flat_buffer buffer;
    for (auto _ : state) {
        http::write(stream, request);
        http::response<http::string_body> response;
        http::read(stream, buffer, response);
        if (response.body() != hello_reply) state.SkipWithError("wrong answer");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_KeepAliveRequests)->UseRealTime();

void BM_PostJsonNewConnectionEach(benchmark::State& state) {
    const std::string url = "https://127.0.0.1:" + std::to_string(server().servers.rest_port) + "/api/v1/hello_world";
    for (auto _ : state) {
        if (post_json(url, "{}") != hello_reply) state.SkipWithError("wrong answer");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PostJsonNewConnectionEach)->UseRealTime();

}  // namespace
