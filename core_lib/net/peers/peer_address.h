// The one normal form of a peer's address: an IP literal without port or "%" scope,
// lower-case, an IPv4-mapped IPv6 address written as plain IPv4, any other IPv6 address
// enclosed in "[" and "]" (so it can stand as the host of a URL). Request origins, the
// peer directory and peer URLs all use this form.
#pragma once

#include <string>

#include <boost/asio/ip/address.hpp>

namespace vandrel {

// The normal form of an IPv4 or IPv6 literal (brackets and a "%" scope allowed), or ""
// when the text is not an IP literal ("from_ui", "test", host names, garbage).
std::string normalize_peer_address(const std::string& text);

// The normal form of a socket's address.
std::string peer_address_text(const boost::asio::ip::address& address);

// True only for a non-empty text that already is in the normal form.
bool is_peer_address(const std::string& text);

// Whether the address (any text normalize_peer_address takes) lies in the network
// "ADDRESS/PREFIX"; false for texts that are neither.
bool address_in_network(const std::string& address, const std::string& network);

// The group a per-address limit counts an address in: an IPv4 address alone, an IPv6
// address by its /64 ("[fe80:0:0:1::]/64"), since a host can hold a whole /64 at no cost.
// Takes any text normalize_peer_address takes; "" for anything else.
std::string address_group(const std::string& text);

}  // namespace vandrel
