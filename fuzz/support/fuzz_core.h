// A whole core in the fuzzing process, as the program runs it, for the targets that feed
// its servers and its API: the Linux platform services over a temporary folder (no
// helper programs, no network interfaces), bound to a loopback address of its own
// (127.X.Y.1, drawn per process) with ports the system picks; texts for the interface
// are dropped. A peer, `peer_id`, answers pings on 127.X.Y.2 and is proven there, so
// requests from that address speak for a known device. One picture of this device is
// offered to it (`offered_file_id` in upload `offered_upload_id`) and shared on the web
// share, whose code is `web_code`; a copy has arrived from the peer (`received_file_id`
// in download `received_download_id`). Made on first use; stopped, its folder removed,
// when the process exits normally.
#pragma once

#include <cstdint>
#include <string>

namespace vandrel::fuzzing {

inline constexpr const char* own_id = "fuzz-device";
inline constexpr const char* peer_id = "fuzz-peer";
inline constexpr const char* offered_upload_id = "fuzz-upload";
inline constexpr const char* offered_file_id = "fuzz-file";
inline constexpr const char* received_download_id = "fuzz-download";
inline constexpr const char* received_file_id = "fuzz-received";
inline constexpr const char* web_code = "1234";

class fuzz_core {
public:
    static fuzz_core& get();

    // 127.X.Y.1, where every server of the core listens.
    const std::string& own_address() const { return own_address_; }
    // 127.X.Y.2, where the proven peer lives.
    const std::string& peer_address() const { return peer_address_; }
    // Another address on the same 127.X.Y network, never proven: 127.X.Y.(3 + n % 250).
    std::string stranger_address(unsigned n) const;
    // 127.X.(Y+1).Z... : a fresh address for each n, so that a lock-out or a cap that one
    // input earns does not carry over to the next.
    std::string fresh_address(std::uint32_t n) const;

    // The plain request path of the REST server: a plain HTTP server with the routes and
    // limits of the core's REST server (which adds TLS in front of it).
    std::uint16_t rest_port() const { return rest_port_; }
    // The core's own thumbnail server and web-share server.
    std::uint16_t loopback_port() const { return loopback_port_; }
    std::uint16_t web_port() const { return web_port_; }

    // The web share's id of the shared file.
    const std::string& shared_file_id() const { return shared_file_id_; }

    // Waits (within a generous limit) until the background jobs the last input started
    // have run, so that each input's effects are over before the next begins.
    void settle() const;

private:
    fuzz_core();
    void start();

    std::string subnet_;  // "127.X."
    int host_octet_ = 0;  // Y
    std::string own_address_;
    std::string peer_address_;
    std::uint16_t rest_port_ = 0;
    std::uint16_t loopback_port_ = 0;
    std::uint16_t web_port_ = 0;
    std::string shared_file_id_;
};

}  // namespace vandrel::fuzzing
