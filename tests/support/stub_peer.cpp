#include "tests/support/stub_peer.h"

#include <map>
#include <utility>

#include "core_lib/foundation/json.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/http/tls_context.h"
#include "tests/support/net_test_support.h"

namespace vandrel::testing {

namespace {

class aborting_source : public body_source {
public:
    step next_piece(std::string& /*unused*/) override { return step::abort; }
};

}  // namespace

net_config loopback_config(std::uint16_t peer_port) {
    net_config config;
    config.bind_address = "127.0.0.1";
    config.rest_port = 0;
    config.loopback_port = 0;
    config.peer_port = peer_port;
    return config;
}

http_answer cut_answer() {
    http_answer answer;
    answer.chunked = false;
    answer.body = R"({"status": "succ)";
    answer.content_length = 4096;
    answer.rest = std::make_shared<aborting_source>();
    return answer;
}

// What the server's workers share with the test: outlives the server.
struct stub_peer::shared {
    mutable std::mutex mutex;
    std::vector<request> requests;
    std::map<std::string, answer_maker> answers;
};

stub_peer::stub_peer(std::string address, std::uint16_t port, std::string id, std::string certificate)
    : address_(std::move(address)), id_(std::move(id)), state_(std::make_shared<shared>()) {
    manager_ = std::make_unique<io_manager>("stub " + address_);
    http_server_config config;
    config.host = address_;
    config.port = port;
    config.tls = make_server_tls_context(certificate.empty() ? test::test_certificate_path() : certificate);
    config.handler = [state = state_, id = id_](const http_request& request) {
        answer_maker make;
        {
            std::lock_guard<std::mutex> lock(state->mutex);
            state->requests.push_back({request.path, request.body, request.peer_address});
            auto it = state->answers.find(request.path);
            if (it != state->answers.end()) make = it->second;
        }
        // Outside the lock: an answer may look at the store or the stub's records.
        if (make) return make(request);
        http_answer answer;
        if (request.path == "/api/v1/ping") {
            answer.body =
                Json(Json::object{
                         {"alias", "Stub " + id}, {"remote_id", id}, {"status", "success"}, {"sys_info", "stub/os"}})
                    .dump();
        } else {
            answer.body = R"({"status": "success"})";
        }
        return answer;
    };
    std::string error;
    port_ = start_http_server(*manager_, std::move(config), error);
    if (port_ == 0) manager_.reset();
}

stub_peer::~stub_peer() { shut(); }

std::string stub_peer::url() const { return "https://" + address_ + ":" + std::to_string(port_); }

void stub_peer::answer(const std::string& path, std::string body) {
    answer_with(path, [body = std::move(body)](const http_request&) {
        http_answer answer;
        answer.body = body;
        return answer;
    });
}

void stub_peer::answer_with(const std::string& path, answer_maker make) {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->answers[path] = std::move(make);
}

std::vector<stub_peer::request> stub_peer::received() const {
    std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->requests;
}

std::vector<stub_peer::request> stub_peer::received(const std::string& path) const {
    std::vector<request> found;
    for (request& r : received()) {
        if (r.path == path) found.push_back(std::move(r));
    }
    return found;
}

std::size_t stub_peer::count(const std::string& path) const { return received(path).size(); }

void stub_peer::shut() { manager_.reset(); }

std::vector<std::unique_ptr<stub_peer>> start_stub_peers(const std::vector<stub_setup>& setups) {
    for (int attempt = 0; attempt < 20 && !setups.empty(); ++attempt) {
        std::vector<std::unique_ptr<stub_peer>> stubs;
        std::uint16_t port = 0;
        for (const stub_setup& setup : setups) {
            auto stub = std::make_unique<stub_peer>(setup.address, port, setup.id, setup.certificate);
            if (!stub->listening()) break;
            port = stub->port();
            stubs.push_back(std::move(stub));
        }
        if (stubs.size() == setups.size()) return stubs;
    }
    return {};
}

}  // namespace vandrel::testing
