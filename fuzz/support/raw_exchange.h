// One raw exchange with a server on this machine, as a hostile client makes it: a TCP
// connection from a given local address, the bytes sent exactly as they are, the sending
// side closed, and everything the server answers read until it closes the connection.
// A server that keeps the connection beyond the limit after the request has ended is at
// fault (a connection held for nothing): the exchange aborts the process, so that the
// fuzzer keeps the input that did it.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vandrel::fuzzing {

// What the server sent; aborts when the connection cannot be made or the server holds it
// past `limit`.
std::string raw_exchange(const std::string& source, const std::string& host, std::uint16_t port,
                         const std::string& bytes, std::chrono::milliseconds limit = std::chrono::seconds(30));

}  // namespace vandrel::fuzzing
