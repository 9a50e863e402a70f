// Splits an absolute "http://" or "https://" URL into scheme, host, port and target.
// Hosts are IPv4 literals, "[IPv6]" literals (an optional "%scope" inside the brackets
// is dropped) or DNS names; user info and fragments are refused.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace vandrel {

struct parsed_url {
    std::string scheme;        // "http" or "https", lower-case
    std::string host;          // without brackets: "1.2.3.4", "fe80::1", "example.org"
    std::uint16_t port = 0;    // the given port, else 80 or 443
    std::string target = "/";  // path and query as given, "/" when the URL has none
    bool host_is_ip = false;   // the host is an IP literal (no name to resolve, no SNI)
};

std::optional<parsed_url> parse_url(const std::string& url);

// The Host header for the URL: "host", "[v6]" or either with ":port" when the port is
// not the scheme's default.
std::string host_header(const parsed_url& url);

}  // namespace vandrel
