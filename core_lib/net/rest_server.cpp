#include "core_lib/net/rest_server.h"

#include <cstdint>
#include <memory>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/peers/self_calls.h"

namespace vandrel {

namespace {

const std::string api_prefix = "/api/v1";
const std::string download_prefix = "/download/v1";
const std::string thumbnail_prefix = "/thumbnail/v1";

http_answer not_found() { return chunked_answer(404); }

http_answer route_thumbnail(const file_route& thumbnail, const http_request& request) {
    // The prefix and the "/" after it.
    std::string rest = request.path.size() > thumbnail_prefix.size() ? request.path.substr(thumbnail_prefix.size() + 1)
                                                                     : std::string();
    if (!thumbnail) return not_found();
    return thumbnail(request, rest);
}

http_answer route(const rest_routes& routes, const http_request& request) {
    const std::string& path = request.path;
    if (starts_with(path, api_prefix)) {
        std::string endpoint = path.substr(api_prefix.size());
        const bool own_call = !routes.self_origin.empty() && is_self_call(request);
        return chunked_answer(200,
                              routes.api(endpoint, request.body, own_call ? routes.self_origin : request.peer_address));
    }
    if (starts_with(path, download_prefix)) {
        // Capped as the API's bodies are: a peer's 1 MiB of tiny values must not make
        // this check hold a hundred times that.
        std::string err;
        Json::parse(request.body, err, limits::json_values_per_request);
        if (!err.empty() || !routes.download) return not_found();
        return routes.download(request, path.substr(download_prefix.size()));
    }
    if (starts_with(path, thumbnail_prefix)) return route_thumbnail(routes.peer_thumbnail, request);
    // The low 32 bits of the time in seconds, as a signed number.
    auto seconds = static_cast<std::int32_t>(static_cast<std::uint32_t>(now_ms() / 1000));
    return chunked_answer(200, "{ \"result\": " + std::to_string(seconds) + " }");
}

}  // namespace

http_fields rest_common_fields() { return {{"Access-Control-Allow-Origin", "*"}}; }

http_answer chunked_answer(unsigned status, std::string body) {
    http_answer answer;
    answer.status = status;
    answer.body = std::move(body);
    return answer;
}

http_handler make_rest_handler(rest_routes routes) {
    auto shared = std::make_shared<const rest_routes>(std::move(routes));
    return [shared](const http_request& request) { return route(*shared, request); };
}

http_handler make_loopback_handler(rest_routes routes) {
    auto shared = std::make_shared<const rest_routes>(std::move(routes));
    return [shared](const http_request& request) {
        // Only the interface's thumbnail pictures: other local programs must not reach
        // the API or the files through the loopback port.
        if (request.method != "GET" || !starts_with(request.path, thumbnail_prefix + "/")) {
            return not_found();
        }
        return route_thumbnail(shared->thumbnail, request);
    };
}

}  // namespace vandrel
