// TLS contexts of the network layer. The server context presents the one PEM file that
// holds this device's certificate and its private key; the client context checks no
// certificate, because every peer presents a self-signed one of its own.
#pragma once

#include <memory>
#include <string>

namespace boost::asio::ssl {
class context;
}

namespace vandrel {

// Throws std::runtime_error with the TLS library's reason when the file is missing,
// does not parse, or its key does not match its certificate.
std::shared_ptr<boost::asio::ssl::context> make_server_tls_context(const std::string& pem_path);

// A context with no peer verification. Safe to share between threads.
std::shared_ptr<boost::asio::ssl::context> make_client_tls_context();

}  // namespace vandrel
