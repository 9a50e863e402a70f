// Who sent a request: the interface ("from_ui", also the core's own calls), the self
// test ("test"), or a peer, named by its IP address text. Only the first two are
// local; a local origin is never taken for a peer's address.
#pragma once

#include <string>

namespace vandrel {

inline const std::string origin_from_ui = "from_ui";
inline const std::string origin_test = "test";

inline bool is_local_origin(const std::string& origin) { return origin == origin_from_ui || origin == origin_test; }

}  // namespace vandrel
