#include "core_lib/net/peers/peer_address.h"

#include <algorithm>

#include <boost/asio/ip/address_v6.hpp>

namespace vandrel {

std::string peer_address_text(const boost::asio::ip::address& address) {
    if (address.is_v4()) return address.to_v4().to_string();
    boost::asio::ip::address_v6 v6 = address.to_v6();
    if (v6.is_v4_mapped()) {
        return boost::asio::ip::make_address_v4(boost::asio::ip::v4_mapped, v6).to_string();
    }
    v6.scope_id(0);
    return "[" + v6.to_string() + "]";
}

std::string normalize_peer_address(const std::string& text) {
    std::string literal = text;
    if (literal.size() >= 2 && literal.front() == '[' && literal.back() == ']') {
        literal = literal.substr(1, literal.size() - 2);
    }
    literal = literal.substr(0, literal.find('%'));
    // Only the characters of IP literals: inet_pton would take nothing else anyway, and
    // this keeps odd bytes from reaching it.
    if (literal.empty() || literal.size() > 45) return "";
    for (char c : literal) {
        bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
        if (!ok) return "";
    }
    boost::system::error_code ec;
    boost::asio::ip::address address = boost::asio::ip::make_address(literal, ec);
    if (ec) return "";
    return peer_address_text(address);
}

bool is_peer_address(const std::string& text) { return !text.empty() && normalize_peer_address(text) == text; }

std::string address_group(const std::string& text) {
    std::string normal = normalize_peer_address(text);
    if (normal.empty() || normal.front() != '[') return normal;
    boost::system::error_code ec;
    boost::asio::ip::address_v6::bytes_type bytes =
        boost::asio::ip::make_address_v6(normal.substr(1, normal.size() - 2), ec).to_bytes();
    if (ec) return "";
    std::fill(bytes.begin() + 8, bytes.end(), 0);
    return "[" + boost::asio::ip::address_v6(bytes).to_string() + "]/64";
}

}  // namespace vandrel
