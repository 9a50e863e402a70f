#include "core_lib/net/rest_server.h"

#include <gtest/gtest.h>

#include <mutex>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/servers.h"
#include "core_lib/platform/ui_event_channel.h"
#include "tests/support/net_test_support.h"

namespace vandrel {
namespace {

using test::http_exchange;
using test::http_reply;
using test::test_connection;

struct api_call {
    std::string endpoint, body, origin;
};

// Both servers on ephemeral ports of 127.0.0.1, with a recording API handler and, when
// a test asks for them, recording file routes.
class RestServer : public ::testing::Test {
protected:
    void start(bool with_file_routes = false, const std::string& host = "127.0.0.1") {
        server_setup setup;
        setup.certificate_path = test::test_certificate_path();
        setup.rest_host = host;
        setup.rest_port = 0;
        setup.loopback_port = 0;
        setup.routes.api = [this](const std::string& endpoint, const std::string& body, const std::string& origin) {
            std::lock_guard<std::mutex> lock(mutex);
            calls.push_back({endpoint, body, origin});
            if (endpoint == "/boom") throw std::runtime_error("handler failed");
            if (endpoint == "/new_settings") return std::string();
            return Json(Json::object{{"status", "success"}, {"endpoint", endpoint}}).dump();
        };
        if (with_file_routes) {
            setup.routes.download = [this](const http_request& request, const std::string&) {
                std::lock_guard<std::mutex> lock(mutex);
                file_calls.push_back("download " + request.body + " from " + request.peer_address);
                return chunked_answer(200, "file bytes");
            };
            setup.routes.thumbnail = [this](const http_request&, const std::string& rest) {
                std::lock_guard<std::mutex> lock(mutex);
                file_calls.push_back("thumbnail " + rest);
                return chunked_answer(200, "picture");
            };
            setup.routes.peer_thumbnail = [this](const http_request&, const std::string& rest) {
                std::lock_guard<std::mutex> lock(mutex);
                file_calls.push_back("peer thumbnail " + rest);
                return chunked_answer(200, "peer picture");
            };
        }
        servers = start_rest_servers(std::move(setup));
    }

    std::vector<api_call> api_calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
    std::vector<std::string> file_route_calls() {
        std::lock_guard<std::mutex> lock(mutex);
        return file_calls;
    }

    http_reply rest(const std::string& method, const std::string& target, const std::string& body = "") {
        return http_exchange(servers.rest_port, true, method, target, body);
    }
    http_reply loopback(const std::string& method, const std::string& target, const std::string& body = "") {
        return http_exchange(servers.loopback_port, false, method, target, body);
    }

    std::mutex mutex;
    std::vector<api_call> calls;
    std::vector<std::string> file_calls;
    running_servers servers;  // last: stopped before what its handlers use
};

void expect_cors_chunked(const http_reply& reply, unsigned status) {
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(reply.status, status);
    EXPECT_EQ(reply.headers.count("access-control-allow-origin"), 1u);
    EXPECT_EQ(reply.headers.at("access-control-allow-origin"), "*");
    EXPECT_TRUE(reply.chunked);
    EXPECT_EQ(reply.headers.count("content-length"), 0u);
}

TEST_F(RestServer, ApiRequestsReachTheHandlerWithEndpointBodyAndOrigin) {
    start();
    ASSERT_TRUE(servers.rest && servers.loopback);
    struct api_case {
        std::string method, target, body, endpoint;
    };
    const api_case cases[] = {
        {"POST", "/api/v1/ping", "{\"device_id\": \"x\"}", "/ping"},
        {"GET", "/api/v1/ping", "", "/ping"},
        {"GET", "/api/v1/ping?device_id=x&y=1", "", "/ping"},
        {"POST", "/api/v1/who_am_i?x", "{}", "/who_am_i"},
        {"PUT", "/api/v1/os", "", "/os"},
        {"POST", "/api/v1x", "", "x"},  // a plain byte prefix, as peers have always had it
        {"POST", "/api/v1", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.method + " " + c.target);
        auto before = api_calls().size();
        http_reply reply = rest(c.method, c.target, c.body);
        expect_cors_chunked(reply, 200);
        EXPECT_EQ(reply.body, Json(Json::object{{"status", "success"}, {"endpoint", c.endpoint}}).dump());
        auto seen = api_calls();
        ASSERT_EQ(seen.size(), before + 1);
        EXPECT_EQ(seen.back().endpoint, c.endpoint);
        EXPECT_EQ(seen.back().body, c.body);
        EXPECT_EQ(seen.back().origin, "127.0.0.1");
    }
}

TEST_F(RestServer, EmptyReplyIsOnlyTheLastChunk) {
    start();
    test_connection connection(servers.rest_port, true);
    http_reply reply = connection.request("POST", "/api/v1/new_settings", "{\"alias\": \"x\"}");
    expect_cors_chunked(reply, 200);
    EXPECT_EQ(reply.body, "");
    // Nothing more than the last chunk went out: the next answer on the connection reads clean.
    http_reply next = connection.request("POST", "/api/v1/ping", "{}");
    expect_cors_chunked(next, 200);
    EXPECT_EQ(next.body, Json(Json::object{{"status", "success"}, {"endpoint", "/ping"}}).dump());
}

TEST_F(RestServer, HandlerExceptionAnswers500AndTheConnectionGoesOn) {
    start();
    test_connection connection(servers.rest_port, true);
    ASSERT_TRUE(connection.connected());
    http_reply failed = connection.request("POST", "/api/v1/boom", "{}");
    expect_cors_chunked(failed, 500);
    EXPECT_EQ(failed.body, "");
    http_reply next = connection.request("POST", "/api/v1/ping", "{}");
    expect_cors_chunked(next, 200);
    EXPECT_EQ(api_calls().size(), 2u);
}

TEST_F(RestServer, KeepAliveServesManyRequestsOnOneConnection) {
    start();
    test_connection connection(servers.rest_port, true);
    ASSERT_TRUE(connection.connected());
    for (int i = 0; i < 20; ++i) {
        http_reply reply = connection.request(i % 2 ? "GET" : "POST", "/api/v1/ping", i % 2 ? "" : "{}");
        ASSERT_TRUE(reply.ok) << i;
        EXPECT_TRUE(reply.keep_alive);
    }
    EXPECT_EQ(api_calls().size(), 20u);
}

TEST_F(RestServer, OriginOfAnIpv6PeerIsBracketed) {
    start(false, "::1");
    if (!servers.rest) GTEST_SKIP() << "no IPv6 loopback on this machine";
    test_connection connection(servers.rest_port, true, "::1");
    ASSERT_TRUE(connection.connected());
    ASSERT_TRUE(connection.request("POST", "/api/v1/ping", "{}").ok);
    ASSERT_EQ(api_calls().size(), 1u);
    EXPECT_EQ(api_calls()[0].origin, "[::1]");
}

TEST_F(RestServer, FileRoutesAnswerNotFoundWhileNoServiceIsWired) {
    start();
    for (const auto& [method, target, body] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"POST", "/download/v1", "{\"file_id\": \"a\", \"chat_id\": \"b\", \"offset\": \"0\"}"},
             {"POST", "/download/v1", "not json"},
             {"GET", "/thumbnail/v1/upload/abc", ""},
             {"GET", "/thumbnail/v1/other/abc", ""},
             {"GET", "/thumbnail/v1", ""},
         }) {
        SCOPED_TRACE(target + " " + body);
        http_reply reply = rest(method, target, body);
        expect_cors_chunked(reply, 404);
        EXPECT_EQ(reply.body, "");
    }
    EXPECT_TRUE(api_calls().empty());
}

TEST_F(RestServer, FileRoutesReachTheWiredService) {
    start(true);
    expect_cors_chunked(rest("POST", "/download/v1", "{\"file_id\": \"a\"}"), 200);
    // A body that is not JSON never reaches the service.
    expect_cors_chunked(rest("POST", "/download/v1", "{broken"), 404);
    // Nor does one with more values than a peer's request may hold.
    std::string many = "[";
    for (std::size_t i = 0; i < limits::json_values_per_request; ++i) many += "0,";
    expect_cors_chunked(rest("POST", "/download/v1", many + "0]"), 404);
    http_reply thumbnail = rest("GET", "/thumbnail/v1/upload/abc?size=1");
    expect_cors_chunked(thumbnail, 200);
    EXPECT_EQ(thumbnail.body, "peer picture");
    EXPECT_EQ(file_route_calls(),
              (std::vector<std::string>{"download {\"file_id\": \"a\"} from 127.0.0.1", "peer thumbnail upload/abc"}));
}

TEST_F(RestServer, OtherPathsAnswerTheTimeInSeconds) {
    start();
    for (const std::string target : {"/", "/unknown/path", "/api"}) {
        SCOPED_TRACE(target);
        auto before = static_cast<std::int32_t>(static_cast<std::uint32_t>(now_ms() / 1000));
        http_reply reply = rest("GET", target);
        auto after = static_cast<std::int32_t>(static_cast<std::uint32_t>(now_ms() / 1000));
        expect_cors_chunked(reply, 200);
        std::string err;
        Json parsed = Json::parse(reply.body, err);
        ASSERT_TRUE(err.empty()) << reply.body;
        EXPECT_EQ(reply.body.rfind("{ \"result\": ", 0), 0u);
        EXPECT_GE(parsed["result"].int_value(), before);
        EXPECT_LE(parsed["result"].int_value(), after);
    }
    EXPECT_TRUE(api_calls().empty());
}

TEST_F(RestServer, LoopbackServerAnswersOnlyThumbnailGets) {
    start(true);
    http_reply thumbnail = loopback("GET", "/thumbnail/v1/download/f1");
    expect_cors_chunked(thumbnail, 200);
    EXPECT_EQ(thumbnail.body, "picture");
    const std::pair<std::string, std::string> refused[] = {
        {"POST", "/thumbnail/v1/download/f1"},
        {"GET", "/api/v1/ping"},
        {"POST", "/api/v1/ping"},
        {"POST", "/download/v1"},
        {"GET", "/"},
        {"GET", "/thumbnail/v1"},
        {"GET", "/thumbnail/v1x/a"},
    };
    for (const auto& [method, target] : refused) {
        SCOPED_TRACE(method + " " + target);
        http_reply reply = loopback(method, target, method == "POST" ? "{}" : "");
        expect_cors_chunked(reply, 404);
        EXPECT_EQ(reply.body, "");
    }
    EXPECT_TRUE(api_calls().empty());
    EXPECT_EQ(file_route_calls(), std::vector<std::string>{"thumbnail download/f1"});
}

// The platform links of a core, so that reports reach a sink.
class RestServerStart : public ::testing::Test {
protected:
    platform_state platform;
    current_platform::binding bound{platform};
};

TEST_F(RestServerStart, MissingCertificateIsReportedAndTheLoopbackServerStillStarts) {
    std::vector<std::string> events;
    std::mutex mutex;
    set_ui_sink([&](const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(text);
    });
    test::temp_folder folder;
    server_setup setup;
    setup.certificate_path = folder.path() + "vandrel.pem";
    setup.rest_host = "127.0.0.1";
    setup.rest_port = 0;
    setup.loopback_port = 0;
    setup.routes.api = [](const std::string&, const std::string&, const std::string&) { return std::string(); };
    running_servers servers = start_rest_servers(setup);
    set_ui_sink(nullptr);
    EXPECT_FALSE(servers.rest);
    ASSERT_TRUE(servers.loopback);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_NE(events[0].find("vandrel.pem"), std::string::npos) << events[0];
    EXPECT_EQ(http_exchange(servers.loopback_port, false, "GET", "/thumbnail/v1/upload/x").status, 404u);
}

TEST_F(RestServerStart, PortInUseIsReportedAndTheCoreGoesOn) {
    server_setup first;
    first.certificate_path = test::test_certificate_path();
    first.rest_host = "127.0.0.1";
    first.rest_port = 0;
    first.loopback_port = 0;
    first.routes.api = [](const std::string&, const std::string&, const std::string&) { return std::string("{}"); };
    running_servers taken = start_rest_servers(first);
    ASSERT_TRUE(taken.rest && taken.loopback);

    std::vector<std::string> events;
    std::mutex mutex;
    set_ui_sink([&](const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex);
        events.push_back(text);
    });
    server_setup second = first;
    second.rest_port = taken.rest_port;
    second.loopback_port = taken.loopback_port;
    running_servers refused = start_rest_servers(second);
    set_ui_sink(nullptr);
    EXPECT_FALSE(refused.rest);
    EXPECT_FALSE(refused.loopback);
    // Each as an event an interface can parse.
    ASSERT_EQ(events.size(), 2u);
    std::string error;
    const Json rest = Json::parse(events[0], error);
    EXPECT_EQ(rest["action"].string_value(), "service_not_started") << events[0];
    EXPECT_EQ(rest["service"].string_value(), "rest server");
    EXPECT_EQ(rest["message"].string_value().rfind("could not bind to local host", 0), 0u) << events[0];
    const Json thumbnails = Json::parse(events[1], error);
    EXPECT_EQ(thumbnails["action"].string_value(), "service_not_started") << events[1];
    EXPECT_EQ(thumbnails["service"].string_value(), "thumbnail server");
    EXPECT_FALSE(thumbnails["message"].string_value().empty());
    // The servers that did start still answer.
    EXPECT_EQ(http_exchange(taken.rest_port, true, "POST", "/api/v1/ping", "{}").body, "{}");
}

}  // namespace
}  // namespace vandrel
