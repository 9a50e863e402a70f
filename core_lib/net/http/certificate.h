// This device's self-signed TLS certificate, kept in the data folder: "vandrel.pem"
// (certificate then private key; what the HTTPS server loads), "key.pem" and "cert.pem".
// A "vandrel.pem" that loads and has not expired is left as it is; a missing, damaged or
// expired one is made anew, with the private key of the earlier one when that still
// loads, since peers know this device by its key.
#pragma once

#include <string>

namespace vandrel {

inline const std::string certificate_file_name = "vandrel.pem";

// Makes the files in the data folder when "vandrel.pem" does not load or has expired. A
// damaged file is kept aside and reported, as is a failure to write (the HTTPS server
// then reports that it cannot load its certificate).
void ensure_certificate();

// The same in the given folder (its path ends in "/"). True when a certificate that
// loads is there afterwards.
bool ensure_certificate_in(const std::string& folder);

}  // namespace vandrel
