#include "core_lib/net/http/tls_context.h"

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <unistd.h>

#include <openssl/ssl.h>
#include <boost/asio/ssl/context.hpp>

namespace vandrel {

namespace ssl = boost::asio::ssl;

namespace {

void set_common_options(ssl::context& ctx) {
    ctx.set_options(ssl::context::default_workarounds | ssl::context::no_sslv2 | ssl::context::no_sslv3 |
                    ssl::context::no_tlsv1 | ssl::context::no_tlsv1_1 | ssl::context::single_dh_use);
    // A peer that closes without close_notify ends the stream like a plain EOF.
    SSL_CTX_set_options(ctx.native_handle(), SSL_OP_IGNORE_UNEXPECTED_EOF);
}

}  // namespace

std::shared_ptr<ssl::context> make_server_tls_context(const std::string& pem_path) {
    auto ctx = std::make_shared<ssl::context>(ssl::context::tls_server);
    set_common_options(*ctx);
    // Keys under 2048 bits and SHA-1 signatures are refused whatever the system's
    // settings say, so an old weak certificate counts as one that does not load.
    SSL_CTX_set_security_level(ctx->native_handle(), 2);
    if (::access(pem_path.c_str(), R_OK) != 0) {
        throw std::runtime_error("cannot read certificate " + pem_path + ": " + std::strerror(errno));
    }
    boost::system::error_code ec;
    ctx->use_certificate_chain_file(pem_path, ec);
    if (ec) throw std::runtime_error("cannot load certificate " + pem_path + ": " + ec.message());
    ctx->use_private_key_file(pem_path, ssl::context::pem, ec);
    if (ec) throw std::runtime_error("cannot load private key " + pem_path + ": " + ec.message());
    if (SSL_CTX_check_private_key(ctx->native_handle()) != 1) {
        throw std::runtime_error("private key does not match certificate in " + pem_path);
    }
    ctx->set_verify_mode(ssl::verify_none);
    return ctx;
}

std::shared_ptr<ssl::context> make_client_tls_context() {
    auto ctx = std::make_shared<ssl::context>(ssl::context::tls_client);
    set_common_options(*ctx);
    ctx->set_verify_mode(ssl::verify_none);
    return ctx;
}

}  // namespace vandrel
