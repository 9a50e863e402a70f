// A peer's HTTPS API on one loopback address, for tests of the calls a core makes: it
// answers "/api/v1/ping" as a given device id, with a certificate (so a key) of its
// own, every other path with {"status": "success"} unless the test sets another
// answer, and records each request. It also stands in for the cloud service. Several
// stubs share one port on different loopback addresses, as peers share 45001.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core_lib/net/http/http_server.h"
#include "core_lib/net/net_config.h"

namespace vandrel {
class io_manager;
}

namespace vandrel::testing {

// Polls until the predicate holds; false when the limit passed first.
template <class Predicate>
bool wait_until(Predicate done, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A core bound to 127.0.0.1 that calls its peers on `peer_port`: it sends nothing
// beyond this machine (no other host, no broadcast, no cloud name looked up).
net_config loopback_config(std::uint16_t peer_port = 1);

// An answer whose headers promise more body than ever comes: the connection closes
// mid-answer, which the caller sees as no answer at all.
http_answer cut_answer();

class stub_peer {
public:
    struct request {
        std::string path;
        std::string body;
        std::string from;  // the caller's address
    };
    using answer_maker = std::function<http_answer(const http_request&)>;

    // Port 0 takes any free port; an empty certificate path takes the test certificate.
    stub_peer(std::string address, std::uint16_t port, std::string id, std::string certificate = "");
    ~stub_peer();
    stub_peer(const stub_peer&) = delete;
    stub_peer& operator=(const stub_peer&) = delete;

    bool listening() const { return port_ != 0; }
    std::uint16_t port() const { return port_; }
    const std::string& address() const { return address_; }
    const std::string& id() const { return id_; }
    std::string url() const;  // "https://ADDRESS:PORT"

    // From now on the path ("/api/v1/create_chat") is answered so.
    void answer(const std::string& path, std::string body);
    void answer_with(const std::string& path, answer_maker make);

    std::vector<request> received() const;
    std::vector<request> received(const std::string& path) const;
    std::size_t count(const std::string& path) const;

    // Closes the port: later calls are refused. What was received stays readable.
    void shut();

private:
    struct shared;
    std::string address_;
    std::string id_;
    std::shared_ptr<shared> state_;
    std::unique_ptr<io_manager> manager_;
    std::uint16_t port_ = 0;
};

struct stub_setup {
    std::string address;
    std::string id;
    std::string certificate;  // "" for the test certificate
};

// One stub per setup, all listening on one port (retried on other ports when one of
// the addresses is taken); empty when no port was found.
std::vector<std::unique_ptr<stub_peer>> start_stub_peers(const std::vector<stub_setup>& setups);

}  // namespace vandrel::testing
