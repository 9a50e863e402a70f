#include "core_lib/net/peers/peer_address.h"

#include <algorithm>
#include <vector>

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

namespace {

// The address's bytes (4 or 16), or none.
std::vector<unsigned char> address_bytes(const std::string& text) {
    std::string literal = normalize_peer_address(text);
    if (literal.empty()) return {};
    if (literal.front() == '[') literal = literal.substr(1, literal.size() - 2);
    boost::system::error_code ec;
    const boost::asio::ip::address address = boost::asio::ip::make_address(literal, ec);
    if (ec) return {};
    if (address.is_v4()) {
        const auto bytes = address.to_v4().to_bytes();
        return {bytes.begin(), bytes.end()};
    }
    const auto bytes = address.to_v6().to_bytes();
    return {bytes.begin(), bytes.end()};
}

}  // namespace

bool address_in_network(const std::string& address, const std::string& network) {
    const std::size_t slash = network.rfind('/');
    if (slash == std::string::npos || slash + 1 >= network.size() || network.size() - slash > 4) return false;
    int prefix = 0;
    for (std::size_t i = slash + 1; i < network.size(); ++i) {
        if (network[i] < '0' || network[i] > '9') return false;
        prefix = prefix * 10 + (network[i] - '0');
    }
    const std::vector<unsigned char> base = address_bytes(network.substr(0, slash));
    const std::vector<unsigned char> bytes = address_bytes(address);
    if (base.empty() || base.size() != bytes.size() || prefix > static_cast<int>(base.size() * 8)) return false;
    for (int bit = 0; bit < prefix; ++bit) {
        const auto mask = static_cast<unsigned char>(0x80U >> (bit % 8));
        if ((base[bit / 8] & mask) != (bytes[bit / 8] & mask)) return false;
    }
    return true;
}

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
