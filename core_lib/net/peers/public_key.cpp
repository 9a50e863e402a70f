#include "core_lib/net/peers/public_key.h"

#include <cstdio>
#include <memory>

#include <openssl/pem.h>
#include <openssl/x509.h>

#include "core_lib/foundation/sha256.h"

namespace vandrel {

std::string public_key_sha256(const EVP_PKEY* key) {
    if (key == nullptr) return {};
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(const_cast<EVP_PKEY*>(key), &der);
    if (length <= 0) return {};
    std::string digest =
        sha256_hex(std::string_view(reinterpret_cast<const char*>(der), static_cast<std::size_t>(length)));
    OPENSSL_free(der);
    return digest;
}

std::string certificate_key_sha256(const std::string& pem_path) {
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(pem_path.c_str(), "r"), &std::fclose);
    if (!file) return {};
    X509* certificate = PEM_read_X509(file.get(), nullptr, nullptr, nullptr);
    if (certificate == nullptr) return {};
    std::string digest = public_key_sha256(X509_get0_pubkey(certificate));
    X509_free(certificate);
    return digest;
}

}  // namespace vandrel
