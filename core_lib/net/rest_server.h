// Routing of the peer-facing REST server (HTTPS, port 45001) and of the loopback server
// (plain HTTP, 127.0.0.1:45002). "/api/v1" + endpoint goes to the API handler with the
// peer's address as the origin (or self_origin for this device's own calls);
// "/download/v1" and "/thumbnail/v1" go to the file
// routes, which answer 404 while no file service is wired in; anything else answers the
// time. The loopback server answers GET "/thumbnail/v1/..." only.
#pragma once

#include <functional>
#include <string>

#include "core_lib/net/http/http_server.h"

namespace vandrel {

// (endpoint, body, origin) -> reply text; production wires handle_api_request.
using api_request_handler =
    std::function<std::string(const std::string& endpoint, const std::string& body, const std::string& origin)>;

// A file route gets the request and the rest of the path after its prefix (for
// "/thumbnail/v1/upload/ID" that is "upload/ID").
using file_route = std::function<http_answer(const http_request& request, const std::string& rest)>;

struct rest_routes {
    api_request_handler api;
    // The origin under which "/api/v1" serves this device's calls to itself (requests
    // with the running core's secret, self_calls.h); "": served as any peer's.
    std::string self_origin;
    file_route download;        // empty: every download answers 404
    file_route thumbnail;       // the interface's, on the loopback server; empty: 404
    file_route peer_thumbnail;  // a peer's, on the REST server; empty: 404
};

// The fields every answer of these servers carries.
http_fields rest_common_fields();

// A chunked answer of the status and body (the common fields come from the server).
http_answer chunked_answer(unsigned status, std::string body = "");

http_handler make_rest_handler(rest_routes routes);
http_handler make_loopback_handler(rest_routes routes);

}  // namespace vandrel
