// How peers are known: the SHA-256 (lower-case hex) of the DER form of a public key,
// the one a device's certificate carries and shows in every TLS handshake.
#pragma once

#include <string>

#include <openssl/evp.h>

namespace vandrel {

// "" for a null key.
std::string public_key_sha256(const EVP_PKEY* key);

// The key digest of the certificate in a PEM file; "" when it does not load.
std::string certificate_key_sha256(const std::string& pem_path);

}  // namespace vandrel
