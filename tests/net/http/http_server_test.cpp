#include "core_lib/net/http/http_server.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <set>
#include <thread>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>

#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/http/tls_context.h"
#include "tests/support/net_test_support.h"

namespace vandrel {
namespace {

using namespace std::chrono_literals;
using test::http_reply;
using test::test_connection;

// Gives `count` pieces of `size` bytes ("a", "b", ...), then ends or aborts; counts its
// calls. A count of -1 never ends.
class counting_source : public body_source {
public:
    counting_source(int pieces, std::size_t piece_size, bool abort, std::atomic<int>& call_count)
        : count(pieces), size(piece_size), abort_at_end(abort), calls(call_count) {}
    step next_piece(std::string& piece) override {
        int n = ++calls;
        if (count >= 0 && n > count) return abort_at_end ? step::abort : step::end;
        piece.assign(size, static_cast<char>('a' + (n - 1) % 26));
        return step::piece;
    }

private:
    int count;
    std::size_t size;
    bool abort_at_end;
    std::atomic<int>& calls;
};

// The rest of a file: offered whole to a plain connection, else read in pieces of 4096
// bytes; counts the pieces asked for.
class file_source : public body_source {
public:
    file_source(const std::string& path, std::atomic<int>& call_count)
        : descriptor(::open(path.c_str(), O_RDONLY | O_CLOEXEC)), calls(call_count) {}
    ~file_source() override {
        if (descriptor >= 0) ::close(descriptor);
    }
    file_source(const file_source&) = delete;
    file_source& operator=(const file_source&) = delete;
    step next_piece(std::string& piece) override {
        ++calls;
        piece.resize(4096);
        const ssize_t n = ::read(descriptor, piece.data(), piece.size());
        piece.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
        return piece.empty() ? step::end : step::piece;
    }
    std::optional<file_span> rest_as_file() override {
        struct stat info {};
        if (::fstat(descriptor, &info) != 0) return std::nullopt;
        const off_t at = ::lseek(descriptor, 0, SEEK_CUR);
        return file_span{descriptor, static_cast<std::uint64_t>(at), static_cast<std::uint64_t>(info.st_size - at)};
    }

private:
    int descriptor;
    std::atomic<int>& calls;
};

// One server on an ephemeral port of 127.0.0.1. "/stream/..." paths answer with
// streamed bodies; every other path answers "pong".
class HttpServer : public ::testing::Test {
protected:
    void start(bool tls, http_limits limits = {}) {
        is_tls = tls;
        http_server_config config;
        config.host = "127.0.0.1";
        config.tls = tls ? make_server_tls_context(test::test_certificate_path()) : nullptr;
        config.limits = limits;
        config.common_fields = {{"Access-Control-Allow-Origin", "*"}};
        config.handler = [this](const http_request& request) {
            ++requests;
            http_answer answer;
            if (request.path == "/stream/chunked") {
                answer.body = "first;";
                answer.rest = std::make_shared<counting_source>(3, 5, false, source_calls);
            } else if (request.path == "/stream/abort") {
                answer.body = "first;";
                answer.rest = std::make_shared<counting_source>(2, 5, true, source_calls);
            } else if (request.path == "/stream/endless") {
                answer.rest = std::make_shared<counting_source>(-1, 16384, false, source_calls);
            } else if (request.path == "/stream/ranged") {
                answer.status = 206;
                answer.chunked = false;
                answer.content_length = 100;
                answer.rest = std::make_shared<counting_source>(3, 40, false, source_calls);
            } else if (request.path == "/stream/short") {
                answer.chunked = false;
                answer.content_length = 100;
                answer.rest = std::make_shared<counting_source>(1, 40, false, source_calls);
            } else if (request.path == "/stream/file") {
                // The file after a first piece; "x-length" asks for a Content-Length body.
                answer.body = "first;";
                const std::string length = request.header("x-length");
                answer.chunked = length.empty();
                if (!length.empty()) answer.content_length = 6 + std::stoull(length);
                answer.rest = std::make_shared<file_source>(file_path, source_calls);
            } else if (request.path == "/close") {
                answer.body = "bye";
                answer.close = true;
            } else if (request.path == "/fields") {
                answer.fields = {{"X-One", "1"}, {"X-Bad", "a\r\nInjected: yes"}, {"X-Two", "2"}};
            } else {
                answer.body = "pong";
            }
            return answer;
        };
        std::string error;
        port = start_http_server(manager, std::move(config), error);
        ASSERT_NE(port, 0) << error;
    }

    // A normal request on a fresh connection is answered.
    void expect_still_serving() {
        http_reply reply = test::http_exchange(port, is_tls, "POST", "/api/v1/ping", "{}");
        ASSERT_TRUE(reply.ok);
        EXPECT_EQ(reply.status, 200u);
        EXPECT_EQ(reply.body, "pong");
    }

    // A file for "/stream/file" of `size` patterned bytes; its contents.
    std::string make_file(std::size_t size) {
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
        file_path = ::testing::TempDir() + "http_server_file_" + std::to_string(::getpid());
        FILE* out = std::fopen(file_path.c_str(), "wb");
        EXPECT_NE(out, nullptr);
        if (out != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), out);
            std::fclose(out);
        }
        return bytes;
    }
    void TearDown() override {
        if (!file_path.empty()) std::remove(file_path.c_str());
    }

    std::string file_path;
    std::atomic<int> requests{0};
    std::atomic<int> source_calls{0};
    // Several threads, as the servers of a running core have.
    io_manager manager{"test server", 50ms, 4};
    std::uint16_t port = 0;
    bool is_tls = false;
};

TEST_F(HttpServer, StreamedChunkedAnswerPullsPiecesToTheEnd) {
    for (bool tls : {false, true}) {
        SCOPED_TRACE(tls ? "tls" : "plain");
        if (tls)
            start(true);
        else
            start(false);
        source_calls = 0;
        test_connection connection(port, tls);
        http_reply reply = connection.request("GET", "/stream/chunked");
        ASSERT_TRUE(reply.ok);
        EXPECT_TRUE(reply.chunked);
        EXPECT_EQ(reply.body, "first;aaaaabbbbbccccc");
        EXPECT_EQ(reply.headers["access-control-allow-origin"], "*");
        EXPECT_EQ(source_calls, 4);  // three pieces and the end
        // The connection is still good for the next request.
        EXPECT_EQ(connection.request("GET", "/ping").body, "pong");
    }
}

// A body that is the rest of a file goes out by sendfile on a plain connection (the
// source is never asked for a piece), chunked or by length, larger than one turn of the
// thread; through TLS it is pumped as pieces. A file shorter than the announced length
// closes the connection.
TEST_F(HttpServer, RestOfAFileGoesOutWholeOnPlainConnections) {
    const struct {
        bool tls;
        std::size_t size;
        std::string length;  // "" for a chunked answer
        bool whole;
    } cases[] = {
        {false, 100000, "", true},     {false, 100000, "100000", true},
        {false, 100000, "4000", true},  // the length cuts the file
        {false, 20u << 20, "", true},  {false, 100000, "200000", false},
        {true, 100000, "", true},      {true, 100000, "100000", true},
    };
    start(false);
    const std::uint16_t plain = port;
    io_manager tls_manager{"tls test server", 50ms, 2};
    http_server_config config;
    config.host = "127.0.0.1";
    config.tls = make_server_tls_context(test::test_certificate_path());
    config.handler = [this](const http_request& request) {
        http_answer answer;
        answer.body = "first;";
        const std::string length = request.header("x-length");
        answer.chunked = length.empty();
        if (!length.empty()) answer.content_length = 6 + std::stoull(length);
        answer.rest = std::make_shared<file_source>(file_path, source_calls);
        return answer;
    };
    std::string error;
    const std::uint16_t tls_port = start_http_server(tls_manager, std::move(config), error);
    ASSERT_NE(tls_port, 0) << error;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.tls) + " " + std::to_string(c.size) + " " + c.length);
        const std::string bytes = make_file(c.size);
        source_calls = 0;
        std::map<std::string, std::string> headers;
        if (!c.length.empty()) headers["X-Length"] = c.length;
        test_connection connection(c.tls ? tls_port : plain, c.tls, "127.0.0.1", 30s);
        const http_reply reply = connection.request("GET", "/stream/file", "", headers);
        if (!c.whole) {
            EXPECT_FALSE(reply.ok);
            EXPECT_TRUE(connection.closed_by_server(5s));
            continue;
        }
        ASSERT_TRUE(reply.ok);
        EXPECT_EQ(reply.chunked, c.length.empty());
        const std::size_t expected = c.length.empty() ? c.size : std::min<std::size_t>(c.size, std::stoull(c.length));
        EXPECT_TRUE(reply.body == "first;" + bytes.substr(0, expected)) << reply.body.size();
        if (c.tls) {
            EXPECT_GT(source_calls, 1);
        } else {
            EXPECT_EQ(source_calls, 0);
        }
        // A plain connection goes on with its next request.
        if (!c.tls) {
            EXPECT_EQ(connection.request("GET", "/ping").body, "pong");
        }
    }
}

TEST_F(HttpServer, ContentLengthStreamStopsAtItsLength) {
    start(false);
    http_reply reply = test::http_exchange(port, false, "GET", "/stream/ranged");
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(reply.status, 206u);
    EXPECT_FALSE(reply.chunked);
    EXPECT_EQ(reply.headers["content-length"], "100");
    EXPECT_EQ(reply.body, std::string(40, 'a') + std::string(40, 'b') + std::string(20, 'c'));
}

TEST_F(HttpServer, AbortOrShortBodyClosesWithoutEndingTheBody) {
    start(false);
    for (const std::string path : {"/stream/abort", "/stream/short"}) {
        SCOPED_TRACE(path);
        test_connection connection(port, false);
        http_reply reply = connection.request("GET", path);
        EXPECT_FALSE(reply.ok);  // the body never completes
        EXPECT_TRUE(connection.closed_by_server(5s));
    }
    expect_still_serving();
}

TEST_F(HttpServer, StalledReaderGetsNoFurtherPieces) {
    start(false);
    test_connection connection(port, false);
    ASSERT_TRUE(connection.send_raw("GET /stream/endless HTTP/1.1\r\nHost: x\r\n\r\n"));
    // The reader takes nothing: once the socket buffers are full, the source is not
    // asked again however long the connection waits.
    int before = -1;
    for (int i = 0; i < 50 && source_calls != before; ++i) {
        before = source_calls;
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_EQ(source_calls, before);
    EXPECT_GT(before, 0);
    EXPECT_LT(before, 2000);  // bounded by the socket buffers, not by time
}

TEST_F(HttpServer, CloseAfterAnswerAndUnsafeFieldsDropped) {
    start(false);
    test_connection connection(port, false);
    http_reply reply = connection.request("GET", "/close");
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(reply.body, "bye");
    EXPECT_FALSE(reply.keep_alive);
    EXPECT_TRUE(connection.closed_by_server(5s));

    http_reply fields = test::http_exchange(port, false, "GET", "/fields");
    ASSERT_TRUE(fields.ok);
    EXPECT_EQ(fields.headers["x-one"], "1");
    EXPECT_EQ(fields.headers["x-two"], "2");
    EXPECT_EQ(fields.headers.count("x-bad"), 0u);
    EXPECT_EQ(fields.headers.count("injected"), 0u);
}

TEST_F(HttpServer, ExpectContinueGetsTheGoAhead) {
    start(false);
    test_connection connection(port, false);
    ASSERT_TRUE(connection.send_raw(
        "POST /api/v1/ping HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\nExpect: 100-continue\r\n\r\n"));
    EXPECT_EQ(connection.read_reply().status, 100u);
    ASSERT_TRUE(connection.send_raw("{}"));
    http_reply reply = connection.read_reply();
    EXPECT_EQ(reply.status, 200u);
    EXPECT_EQ(reply.body, "pong");
}

// Hostile input on the TLS port: each case ends its own connection only.
class HostileInput : public HttpServer {
protected:
    void SetUp() override {
        http_limits limits;
        limits.header_bytes = 4096;
        limits.body_bytes = std::uint64_t{64} * 1024;
        limits.header_timeout = 1s;
        limits.idle_timeout = 30s;
        start(true, limits);
    }
};

TEST_F(HostileInput, GarbageBytesBeforeTheHandshake) {
    std::mt19937 random(7);
    std::string garbage(8192, '\0');
    for (char& c : garbage) c = static_cast<char>(random());
    test_connection connection(port, false);
    ASSERT_TRUE(connection.connected());
    connection.send_raw(garbage);
    EXPECT_TRUE(connection.closed_by_server(5s));
    expect_still_serving();
}

TEST_F(HostileInput, GarbageAfterTheHandshakeGets400) {
    test_connection connection(port, true);
    ASSERT_TRUE(connection.send_raw("\x01\x02 this is not HTTP at all\r\n\r\n"));
    http_reply reply = connection.read_reply();
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(reply.status, 400u);
    EXPECT_TRUE(connection.closed_by_server(5s));
    expect_still_serving();
}

TEST_F(HostileInput, PlainHttpOnTheTlsPort) {
    test_connection connection(port, false);
    ASSERT_TRUE(connection.send_raw("POST /api/v1/ping HTTP/1.1\r\nHost: x\r\nContent-Length: 2\r\n\r\n{}"));
    EXPECT_TRUE(connection.closed_by_server(5s));
    EXPECT_EQ(requests, 0);
    expect_still_serving();
}

TEST_F(HostileInput, HeadersThatNeverEndAreCutOffByTheHeaderTimeout) {
    test_connection connection(port, true);
    ASSERT_TRUE(connection.send_raw("POST /api/v1/ping HTTP/1.1\r\nHost: x\r\nX-Slow: "));
    // One byte every 50 ms keeps the line growing but never ends it; the time-out
    // counts from the first byte of the request, not from the last.
    auto start = std::chrono::steady_clock::now();
    bool cut = false;
    while (std::chrono::steady_clock::now() - start < 10s) {
        if (!connection.send_raw("a")) {
            cut = true;
            break;
        }
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_TRUE(cut);
    EXPECT_EQ(requests, 0);
    expect_still_serving();
}

TEST_F(HostileInput, OversizedHeadersGet431) {
    test_connection connection(port, true);
    ASSERT_TRUE(connection.send_raw("GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + std::string(8192, 'b') + "\r\n\r\n"));
    http_reply reply = connection.read_reply();
    ASSERT_TRUE(reply.ok);
    EXPECT_EQ(reply.status, 431u);
    EXPECT_TRUE(connection.closed_by_server(5s));
    expect_still_serving();
}

TEST_F(HostileInput, BodyPastTheLimitGets413) {
    const std::string big(64 * 1024 + 1, 'x');
    {
        test_connection connection(port, true);
        ASSERT_TRUE(connection.send_raw(
            "POST /api/v1/ping HTTP/1.1\r\nHost: x\r\nContent-Length: " + std::to_string(big.size()) + "\r\n\r\n"));
        http_reply reply = connection.read_reply();  // refused on the length alone
        ASSERT_TRUE(reply.ok);
        EXPECT_EQ(reply.status, 413u);
    }
    {
        // A chunked body gives no length up front; it is refused once it passes the limit.
        test_connection connection(port, true);
        std::string request = "POST /api/v1/ping HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n";
        for (int i = 0; i < 20; ++i) request += "1000\r\n" + std::string(0x1000, 'y') + "\r\n";
        connection.send_raw(request);
        http_reply reply = connection.read_reply();
        ASSERT_TRUE(reply.ok);
        EXPECT_EQ(reply.status, 413u);
    }
    EXPECT_EQ(requests, 0);
    expect_still_serving();
}

TEST_F(HostileInput, AThousandIdleConnectionsDoNotCrowdOutARequest) {
    namespace net = boost::asio;
    net::io_context io;
    std::vector<net::ip::tcp::socket> idle;
    net::ip::tcp::endpoint endpoint(net::ip::make_address("127.0.0.1"), port);
    for (int i = 0; i < 1000; ++i) {
        net::ip::tcp::socket socket(io);
        socket.connect(endpoint);
        idle.push_back(std::move(socket));
    }
    // Some of them finish the handshake and then sit idle too.
    std::vector<std::unique_ptr<test_connection>> idle_tls;
    for (int i = 0; i < 20; ++i) idle_tls.push_back(std::make_unique<test_connection>(port, true));
    // That address is over its cap: its next connection is closed at once.
    test_connection one_more(port, true);
    EXPECT_FALSE(one_more.connected() && one_more.request("POST", "/api/v1/ping", "{}").ok);
    // Another peer is served all the same.
    for (int i = 0; i < 2; ++i) {
        test_connection other(port, true, "127.0.0.1", 10s, "127.0.0.2");
        ASSERT_TRUE(other.connected());
        http_reply reply = other.request("POST", "/api/v1/ping", "{}");
        ASSERT_TRUE(reply.ok);
        EXPECT_EQ(reply.body, "pong");
    }
}

// Connections of one address opening, asking and closing on every thread at once: the
// counts under the caps come back to nothing, so the address gets its whole share
// again, and no more.
TEST_F(HttpServer, ConnectionCapsStayExactWhileConnectionsComeAndGoOnEveryThread) {
    http_limits limits;
    limits.max_connections_per_address = 6;
    start(true, limits);
    std::atomic<int> served{0};
    std::vector<std::thread> clients;
    for (int t = 0; t < 12; ++t) {
        clients.emplace_back([&] {
            for (int i = 0; i < 15; ++i) {
                test_connection connection(port, true);
                if (connection.connected() && connection.request("POST", "/api/v1/ping", "{}").ok) ++served;
            }
        });
    }
    for (auto& client : clients) client.join();
    EXPECT_GT(served, 0);

    // The server closes its side after the clients did: wait until all six places are
    // free again, then a seventh connection is refused.
    std::vector<std::unique_ptr<test_connection>> held;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (held.size() < 6 && std::chrono::steady_clock::now() < deadline) {
        auto connection = std::make_unique<test_connection>(port, true);
        if (connection->connected() && connection->request("GET", "/ping").ok) {
            held.push_back(std::move(connection));
        } else {
            std::this_thread::sleep_for(20ms);
        }
    }
    ASSERT_EQ(held.size(), 6u);
    test_connection seventh(port, true);
    EXPECT_FALSE(seventh.connected() && seventh.request("GET", "/ping").ok);
    for (auto& connection : held) EXPECT_EQ(connection->request("GET", "/ping").body, "pong");
}

TEST(HttpServerTimeouts, IdleConnectionsAreClosed) {
    io_manager manager("idle");
    http_server_config config;
    config.host = "127.0.0.1";
    config.tls = make_server_tls_context(test::test_certificate_path());
    config.limits.idle_timeout = 300ms;
    config.limits.header_timeout = 300ms;
    config.limits.handshake_timeout = 300ms;
    config.handler = [](const http_request&) {
        http_answer answer;
        answer.body = "pong";
        return answer;
    };
    std::string error;
    std::uint16_t port = start_http_server(manager, std::move(config), error);
    ASSERT_NE(port, 0) << error;

    test_connection silent_tcp(port, false);  // never starts the handshake
    test_connection silent_tls(port, true);   // never sends a request
    test_connection kept_alive(port, true);   // one request, then nothing
    ASSERT_TRUE(kept_alive.request("GET", "/").ok);
    EXPECT_TRUE(silent_tcp.closed_by_server(5s));
    EXPECT_TRUE(silent_tls.closed_by_server(5s));
    EXPECT_TRUE(kept_alive.closed_by_server(5s));
}

TEST(IoManager, RunsPollChecksAndSurvivesThrowingHandlers) {
    std::atomic<int> polls{0};
    std::atomic<bool> after_throw{false};
    {
        io_manager manager("checks", 5ms);
        manager.add_poll_check([&] { ++polls; });
        manager.add_poll_check([thrown = false]() mutable {
            if (!thrown) {
                thrown = true;
                throw std::runtime_error("check failed");
            }
        });
        boost::asio::post(manager.context(), [] { throw std::runtime_error("handler failed"); });
        boost::asio::post(manager.context(), [&] { after_throw = true; });
        for (int i = 0; i < 400 && (polls < 3 || !after_throw); ++i) std::this_thread::sleep_for(5ms);
    }
    EXPECT_GE(polls, 3);
    EXPECT_TRUE(after_throw);
}

// Voluntary context switches of the calling thread so far.
long own_switches() {
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return usage.ru_nvcsw;
}

// Without poll checks the first thread sleeps until a handler is due: it does not wake
// in slices while nothing happens, and a check added later still runs.
TEST(IoManager, SleepsWithoutChecksUntilWorkComes) {
    io_manager manager("idle", 5ms);
    const auto switches_on_its_thread = [&manager] {
        std::promise<long> seen;
        boost::asio::post(manager.context(), [&seen] { seen.set_value(own_switches()); });
        return seen.get_future().get();
    };
    const long before = switches_on_its_thread();
    std::this_thread::sleep_for(300ms);
    const long after = switches_on_its_thread();
    // Slices of 5 ms would have woken it about 60 times.
    EXPECT_LE(after - before, 5);

    std::promise<void> checked;
    std::atomic<bool> once{false};
    manager.add_poll_check([&] {
        if (!once.exchange(true)) checked.set_value();
    });
    EXPECT_EQ(checked.get_future().wait_for(10s), std::future_status::ready);
}

// The contexts in turn run on threads of their own, each one at a time; stop() joins
// them all, and nothing runs after it.
TEST(IoManager, SpreadsContextsOverItsThreadsAndRunsNothingAfterStop) {
    io_manager manager("threads", 50ms, 3);
    EXPECT_EQ(manager.thread_count(), 3u);
    std::mutex mutex;
    std::set<std::thread::id> seen;
    std::atomic<int> ran{0};
    std::vector<boost::asio::io_context*> contexts;
    for (int i = 0; i < 3; ++i) contexts.push_back(&manager.next_context());
    EXPECT_EQ(contexts[0], &manager.context());
    EXPECT_EQ(&manager.next_context(), contexts[0]);  // round again
    for (auto* context : contexts) {
        boost::asio::post(*context, [&] {
            EXPECT_TRUE(manager.on_manager_thread());
            std::lock_guard<std::mutex> lock(mutex);
            seen.insert(std::this_thread::get_id());
            ++ran;
        });
    }
    for (int i = 0; i < 400 && ran < 3; ++i) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(ran, 3);
    EXPECT_EQ(seen.size(), 3u);
    EXPECT_FALSE(manager.on_manager_thread());

    manager.stop();
    std::atomic<bool> late{false};
    for (auto* context : contexts) boost::asio::post(*context, [&] { late = true; });
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(late);
}

}  // namespace
}  // namespace vandrel

namespace vandrel {
namespace {

TEST(Listener, RefusesHostsThatAreNotIpLiterals) {
    io_manager manager("listener");
    for (const std::string host : {"localhost", "from_ui", "1.2.3", "[::1]"}) {
        SCOPED_TRACE(host);
        http_server_config config;
        config.host = host;
        config.handler = [](const http_request&) { return http_answer{}; };
        std::string error;
        EXPECT_EQ(start_http_server(manager, std::move(config), error), 0);
        EXPECT_FALSE(error.empty());
    }
}

}  // namespace
}  // namespace vandrel
