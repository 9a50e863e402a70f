#include "core_lib/net/http/tls_sessions.h"

#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/net_state.h"

namespace vandrel {

tls_session_cache::~tls_session_cache() {
    for (auto& [endpoint, session] : sessions_) SSL_SESSION_free(session);
}

void tls_session_cache::offer(const std::string& endpoint, SSL* ssl) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(endpoint);
    if (found != sessions_.end()) SSL_set_session(ssl, found->second);
}

void tls_session_cache::keep(const std::string& endpoint, SSL* ssl) {
    SSL_SESSION* live = SSL_get1_session(ssl);
    if (live == nullptr) return;
    // A copy of its own: a connection that ends without a TLS goodbye marks its session
    // as one not to take up again.
    SSL_SESSION* session = SSL_SESSION_is_resumable(live) == 1 ? SSL_SESSION_dup(live) : nullptr;
    SSL_SESSION_free(live);
    if (session == nullptr) return;
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = sessions_.find(endpoint);
    if (found != sessions_.end()) {
        SSL_SESSION_free(found->second);
        found->second = session;
        return;
    }
    // As many as the peers a core keeps; any one of them makes room.
    if (sessions_.size() >= limits::known_peers) {
        SSL_SESSION_free(sessions_.begin()->second);
        sessions_.erase(sessions_.begin());
    }
    sessions_.emplace(endpoint, session);
}

tls_session_cache* current_tls_sessions() {
    net_state* net = current_net::find();
    return net != nullptr ? &net->tls_sessions : nullptr;
}

}  // namespace vandrel
