#include "core_lib/net/http/url.h"

#include <boost/asio/ip/address.hpp>

#include "core_lib/foundation/text_utils.h"

namespace vandrel {

namespace {

bool is_name_char(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

bool valid_host_name(const std::string& host) {
    if (host.empty() || host.size() > 253 || host.front() == '.' || host.front() == '-') return false;
    for (char c : host) {
        if (!is_name_char(c)) return false;
    }
    return host.find("..") == std::string::npos;
}

bool parse_port(const std::string& text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

bool default_port(const parsed_url& url) {
    return (url.scheme == "https" && url.port == 443) || (url.scheme == "http" && url.port == 80);
}

}  // namespace

std::optional<parsed_url> parse_url(const std::string& url) {
    parsed_url out;
    std::size_t scheme_end = url.find("://");
    if (scheme_end == std::string::npos) return std::nullopt;
    out.scheme = to_lower(url.substr(0, scheme_end));
    if (out.scheme != "http" && out.scheme != "https") return std::nullopt;
    out.port = out.scheme == "https" ? 443 : 80;

    std::size_t authority_begin = scheme_end + 3;
    std::size_t authority_end = url.find_first_of("/?#", authority_begin);
    if (authority_end == std::string::npos) authority_end = url.size();
    if (authority_end < url.size() && url[authority_end] == '#') return std::nullopt;
    std::string authority = url.substr(authority_begin, authority_end - authority_begin);
    std::string rest = url.substr(authority_end);
    if (rest.find('#') != std::string::npos) return std::nullopt;
    for (char c : rest) {
        // Bytes that would break the request line.
        if (static_cast<unsigned char>(c) <= 0x20 || c == 0x7f) return std::nullopt;
    }
    if (!rest.empty()) out.target = rest[0] == '?' ? "/" + rest : rest;
    if (authority.find('@') != std::string::npos) return std::nullopt;

    std::string port_text;
    bool has_port = false;
    if (!authority.empty() && authority[0] == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string::npos) return std::nullopt;
        std::string literal = authority.substr(1, close - 1);
        literal = literal.substr(0, literal.find('%'));
        boost::system::error_code ec;
        auto address = boost::asio::ip::make_address_v6(literal, ec);
        if (ec) return std::nullopt;
        out.host = address.to_string();
        out.host_is_ip = true;
        std::string after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after[0] != ':') return std::nullopt;
            has_port = true;
            port_text = after.substr(1);
        }
    } else {
        std::size_t colon = authority.find(':');
        std::string host = to_lower(authority.substr(0, colon));
        if (colon != std::string::npos) {
            has_port = true;
            port_text = authority.substr(colon + 1);
        }
        boost::system::error_code ec;
        auto address = boost::asio::ip::make_address_v4(host, ec);
        if (!ec) {
            out.host = address.to_string();
            out.host_is_ip = true;
        } else {
            // A name of digits and dots only is a malformed IPv4 literal, not a name.
            if (host.find_first_not_of("0123456789.") == std::string::npos) return std::nullopt;
            if (!valid_host_name(host)) return std::nullopt;
            out.host = host;
        }
    }
    if (has_port && !parse_port(port_text, out.port)) return std::nullopt;
    return out;
}

std::string host_header(const parsed_url& url) {
    std::string host = url.host.find(':') != std::string::npos ? "[" + url.host + "]" : url.host;
    if (!default_port(url)) host += ":" + std::to_string(url.port);
    return host;
}

}  // namespace vandrel
