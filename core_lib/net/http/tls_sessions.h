// TLS sessions of this device's calls to peers, one per peer endpoint, taken up again
// by the next call there: a peer met moments ago is called without a new key exchange
// and signature. A resumed session shows the certificate of the handshake that made it,
// and only the server that made it can resume it, so key checks of callers still hold.
#pragma once

#include <map>
#include <mutex>
#include <string>

#include <openssl/ssl.h>

namespace vandrel {

class tls_session_cache {
public:
    tls_session_cache() = default;
    ~tls_session_cache();
    tls_session_cache(const tls_session_cache&) = delete;
    tls_session_cache& operator=(const tls_session_cache&) = delete;

    // Before the handshake: the connection offers the endpoint's session, if one is kept.
    void offer(const std::string& endpoint, SSL* ssl);
    // After the handshake and what the server sent after it: keeps the connection's
    // session for the endpoint, when it may be resumed.
    void keep(const std::string& endpoint, SSL* ssl);

private:
    std::mutex mutex_;
    std::map<std::string, SSL_SESSION*> sessions_;  // each held once
};

// The running core's cache, or none when no core runs.
tls_session_cache* current_tls_sessions();

}  // namespace vandrel
