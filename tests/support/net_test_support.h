// Helpers for network tests: a temporary folder, one test certificate per process, and
// a small HTTP(S) client on 127.0.0.1 whose every step has a time-out, so that a test
// talking to a broken server fails instead of hanging.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace vandrel::test {

// A fresh folder under the system's temporary folder (path ends in "/"), removed with
// everything in it when the object goes.
class temp_folder {
public:
    temp_folder();
    ~temp_folder();
    temp_folder(const temp_folder&) = delete;
    temp_folder& operator=(const temp_folder&) = delete;
    const std::string& path() const { return folder; }

private:
    std::string folder;
};

// A PEM file with a self-signed certificate and its key, made once per test process.
const std::string& test_certificate_path();

// Writes a self-signed certificate followed by its private key to `path`: an RSA key
// of `bits`, common name `name`, valid from now + `not_before_s` to now + `not_after_s`
// seconds, signed with SHA-1 when `sha1` (as weak old certificates were) else SHA-256.
void write_self_signed_pem(const std::string& path, int bits, const std::string& name, long serial, long not_before_s,
                           long not_after_s, bool sha1);

struct http_reply {
    bool ok = false;  // a whole answer was read
    unsigned status = 0;
    std::map<std::string, std::string> headers;  // lower-case names, first value
    std::string body;
    bool chunked = false;
    bool keep_alive = false;
};

// One TCP (or TLS) connection to 127.0.0.1 or ::1, from `source` when one is given (any
// loopback address, so that a test can speak as several peers).
class test_connection {
public:
    test_connection(std::uint16_t port, bool tls, const std::string& host = "127.0.0.1",
                    std::chrono::milliseconds timeout = std::chrono::seconds(10), const std::string& source = "");
    ~test_connection();
    test_connection(const test_connection&) = delete;
    test_connection& operator=(const test_connection&) = delete;

    bool connected() const { return is_connected; }

    // Sends the bytes as they are (through TLS on a TLS connection).
    bool send_raw(const std::string& bytes);

    // Sends a request (Content-Length set when the body is not empty) and reads the answer.
    http_reply request(const std::string& method, const std::string& target, const std::string& body = "",
                       const std::map<std::string, std::string>& headers = {});

    // Reads the next answer from the connection.
    http_reply read_reply();

    // True when the server closes the connection (or resets it) within the time; bytes
    // that arrive before are dropped.
    bool closed_by_server(std::chrono::milliseconds within);

private:
    struct impl;
    std::unique_ptr<impl> d;
    bool is_connected = false;
};

// One request on a fresh connection.
http_reply http_exchange(std::uint16_t port, bool tls, const std::string& method, const std::string& target,
                         const std::string& body = "", const std::map<std::string, std::string>& headers = {});

}  // namespace vandrel::test
