// The web-share server: plain HTTP for browsers on the network (port 3456 by default).
// It serves the page from the application package ("ms-appx:///http_mode/bin/"), its
// JSON API under "/http_mode_api/v1" (the protected paths need the web-share code in
// the header "x_mesk_web_mode_code"), the shared files under "/file/v1/ID" (the code in
// that header or in a `code` query parameter, for links and media elements) with byte
// ranges, and a WebSocket on any path that tells open pages when the shared files
// change. Wrong codes lock their address group, or past a budget every address, out for
// a while, and a lock-down of every address is told to the interface as
// "web_share_locked" (web_share_guard.h). It runs on
// manager threads of its own with the limits and caps of the REST server; destroying
// it closes the listener and every connection at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core_lib/net/http/http_server.h"
#include "core_lib/net/net_config.h"
#include "core_lib/net/web_share/web_share_guard.h"
#include "core_lib/net/web_share/web_share_notices.h"

namespace vandrel {

class io_manager;

struct web_share_setup {
    std::string host;  // IP literal to listen on; "" for every address (dual stack)
    std::uint16_t port = web_server_port;
    http_limits limits;
};

// The running core's setup: its bind address and web port, the peer servers' limits.
web_share_setup web_share_setup_for(const net_config& config);

class web_share_server {
public:
    web_share_server(std::unique_ptr<io_manager> manager, std::uint16_t port, std::shared_ptr<web_share_notices> pages);
    ~web_share_server();
    web_share_server(const web_share_server&) = delete;
    web_share_server& operator=(const web_share_server&) = delete;

    std::uint16_t port() const { return port_; }
    web_share_notices& pages() { return *pages_; }

private:
    std::unique_ptr<io_manager> manager_;
    std::uint16_t port_;
    std::shared_ptr<web_share_notices> pages_;
};

// Opens the listener and starts serving; null with `error` set when it cannot listen.
// Each change of the shared files (take_shared_files_changed) sends every open page
// one {"action": "files_to_share_changed"} as soon as the server's thread takes it.
std::unique_ptr<web_share_server> run_web_mode_server(const web_share_setup& setup, std::string& error);

// The routing of one request, on the server's workers.
http_answer route_web_request(const http_request& request, web_code_guard& guard);

// The file answers. `serve_shared_file` expects the code checked already.
http_answer serve_shared_file(const http_request& request, const std::string& file_id);
// `path` is the request path ("/" for the page itself), still percent-encoded.
http_answer serve_web_app_file(const std::string& path);

// A "Range" header against a file of `size` bytes.
struct byte_range {
    enum class kind {
        satisfiable,    // bytes first..last, both inside the file
        unsatisfiable,  // answered 416
    };
    kind result = kind::satisfiable;
    std::uint64_t first = 0;
    std::uint64_t last = 0;
};
// "bytes=S-E", "bytes=S-" and "bytes=-N" (the last N bytes); of a list, the first
// range. A header that does not parse is the whole file from 0.
byte_range parse_byte_range(const std::string& header, std::uint64_t size);

// The decoded page path inside the page folder ("/" is "/index.html"), or "" when the
// path does not decode or would leave the folder.
std::string web_app_path(const std::string& path);

}  // namespace vandrel
