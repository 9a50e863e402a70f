// This device's self-signed TLS certificate, kept in the data folder: "vandrel.pem"
// (certificate then private key; what the HTTPS server loads), "key.pem" and "cert.pem".
// A "vandrel.pem" that loads is left as it is; a missing or damaged one is made anew.
#pragma once

#include <string>

namespace vandrel {

inline const std::string certificate_file_name = "vandrel.pem";

// Makes the files in the data folder when "vandrel.pem" does not load. Failures are
// logged; the HTTPS server then reports that it cannot load its certificate.
void ensure_certificate();

// The same in the given folder (its path ends in "/"). True when a certificate that
// loads is there afterwards.
bool ensure_certificate_in(const std::string& folder);

}  // namespace vandrel
