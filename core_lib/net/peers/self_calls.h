// Calls this device makes to itself over its own peer path: the self test registers
// this device as its own peer, and its loop-back (the suite's requests, the resend
// loop's offers and notices, the download client's fetches) then reaches this device's
// own REST server. Such a call is told apart by a secret the running core makes at
// start and sends in one header, compared in constant time; never by the address it
// comes from, so that nothing is opened to other programs on the same machine. The
// secret goes out only to this device's own address, and only after the server there
// showed this device's own key.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vandrel {

struct http_request;

inline constexpr const char* self_call_header = "x_mesk_self_call";

// 64 random hexadecimal characters from the system's random source.
std::string make_self_call_secret();

// The address this device reaches itself at, in the normal form of peer addresses: the
// bind address of the running core, else 127.0.0.1 (the REST server then listens on
// every address).
std::string own_loopback_address();

// The port the running core's REST server listens on; 0 when it does not serve.
std::uint16_t own_rest_port();

// Whether the id is this device's own.
bool is_own_device(const std::string& device_id);

// The key digest of this device's certificate; "" when it does not load.
std::string own_key_sha256();

// The header line that makes a request count as this device's own call.
std::vector<std::pair<std::string, std::string>> self_call_fields();

// Whether the request carries the running core's secret, comes from this device's own
// address and the directory holds this device there (a self test runs). False when no
// core runs.
bool is_self_call(const http_request& request);

}  // namespace vandrel
