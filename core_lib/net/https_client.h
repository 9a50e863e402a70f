// post_json: one blocking HTTPS request with a JSON body, the client that every call to
// a peer or to the cloud service goes through. Each call has its own io_context and
// connection; calls on many threads at once share nothing but the client TLS context.
// The server's certificate is not checked (peers present self-signed ones).
#pragma once

#include <chrono>
#include <string>

namespace vandrel {

inline constexpr std::chrono::milliseconds post_json_deadline{30000};

// A POST of `body` to the "https://" URL, or a GET (with Content-Length 0) when the body
// is empty; both with "Content-Type: application/json". Returns the answer's body
// whatever its status, or "" when no whole answer came within the deadline (bad URL,
// no connection, TLS failure, silence, a cut answer).
std::string post_json(const std::string& url, const std::string& body,
                      std::chrono::milliseconds deadline = post_json_deadline);

}  // namespace vandrel
