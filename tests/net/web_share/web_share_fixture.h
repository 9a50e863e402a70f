// What the web-share suites share: a platform whose storage paths and package files are
// plain files of a test folder, a raw HTTP exchange that keeps header lines in their
// order, a WebSocket page that records every frame it gets, and a fixture with a store,
// a page folder and a web-share server on an ephemeral port of 127.0.0.1.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "core_lib/foundation/sha256.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/servers.h"
#include "core_lib/net/web_share/web_mode.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/settings.h"
#include "core_lib/store/shared_pending.h"
#include "tests/support/net_test_support.h"
#include "tests/support/recording_platform.h"
#include "tests/support/temp_store.h"

namespace vandrel::testing {

namespace web_test {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;

// Storage paths map to files the test names. Package paths are joined to the package
// folder as they come, without any check: whatever keeps a request inside the page
// folder is the server's own doing.
class web_share_platform : public recording_platform {
public:
    explicit web_share_platform(std::string package_folder) : package_folder_(std::move(package_folder)) {}

    void add_file(const std::string& storage_path, const std::string& local_path) {
        std::lock_guard<std::mutex> lock(mutex_);
        files_[storage_path] = local_path;
    }

    std::string find_file_in_folder(const std::string& storage_path) override {
        std::lock_guard<std::mutex> lock(mutex_);
        auto found = files_.find(storage_path);
        return found == files_.end() || !std::filesystem::exists(found->second) ? std::string() : found->second;
    }

    std::string get_package_file(const std::string& uri) override {
        const std::string prefix = "ms-appx:///";
        if (uri.rfind(prefix, 0) != 0) return "";
        const std::string file = package_folder_ + uri.substr(prefix.size());
        return std::filesystem::is_regular_file(file) ? file : "";
    }

private:
    std::string package_folder_;
    std::mutex mutex_;
    std::map<std::string, std::string> files_;
};

struct raw_reply {
    bool ok = false;  // a whole answer was read
    unsigned status = 0;
    std::vector<std::pair<std::string, std::string>> fields;  // in the order sent
    std::string body;                                         // de-chunked
    bool chunked = false;

    // The first value of the field, any case of its name; "" when absent.
    std::string field(const std::string& name) const {
        for (const auto& [n, v] : fields) {
            if (to_lower(n) == to_lower(name)) return v;
        }
        return "";
    }
    bool has(const std::string& name) const {
        for (const auto& [n, v] : fields) {
            if (to_lower(n) == to_lower(name)) return true;
        }
        return false;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> out;
        for (const auto& [n, v] : fields) out.push_back(n);
        return out;
    }
};

// One GET on a fresh connection from `source` (a loopback address); the answer is read
// whole within 10 s.
inline raw_reply raw_get(std::uint16_t port, const std::string& target,
                         const std::vector<std::pair<std::string, std::string>>& headers = {},
                         const std::string& source = "127.0.0.1", const std::string& method = "GET") {
    raw_reply reply;
    net::io_context io;
    beast::tcp_stream stream(io);
    beast::error_code ec;
    stream.socket().open(tcp::v4(), ec);
    if (!ec) stream.socket().bind(tcp::endpoint(net::ip::make_address(source), 0), ec);
    if (ec) return reply;
    http::request<http::empty_body> request{http::string_to_verb(method), target, 11};
    request.set(http::field::host, "127.0.0.1:" + std::to_string(port));
    for (const auto& [name, value] : headers) request.insert(name, value);
    beast::flat_buffer buffer;
    http::response_parser<http::string_body> parser;
    parser.body_limit(std::uint64_t{1} << 30);
    bool done = false;
    stream.expires_after(10s);
    stream.async_connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port), [&](beast::error_code connect_ec) {
        if (connect_ec) return void(done = true);
        http::async_write(stream, request, [&](beast::error_code write_ec, std::size_t) {
            if (write_ec) return void(done = true);
            http::async_read(stream, buffer, parser, [&](beast::error_code read_ec, std::size_t) {
                done = true;
                if (read_ec) return;
                reply.ok = true;
            });
        });
    });
    io.run_for(12s);
    if (!reply.ok) return reply;
    const auto& message = parser.get();
    reply.status = message.result_int();
    for (const auto& field : message) reply.fields.emplace_back(field.name_string(), field.value());
    reply.body = message.body();
    reply.chunked = message.chunked();
    return reply;
}

// A page's WebSocket: connected and upgraded in the constructor, then every text frame
// it receives is kept. Its own thread runs the connection.
class test_page {
public:
    test_page(std::uint16_t port, const std::string& target, const std::string& source = "127.0.0.1") : ws_(io_) {
        auto& lowest = beast::get_lowest_layer(ws_);
        beast::error_code ec;
        lowest.socket().open(tcp::v4(), ec);
        if (!ec) lowest.socket().bind(tcp::endpoint(net::ip::make_address(source), 0), ec);
        if (ec) return;
        bool finished = false;
        lowest.expires_after(5s);
        lowest.async_connect(tcp::endpoint(net::ip::make_address("127.0.0.1"), port),
                             [&](beast::error_code connect_ec) {
                                 if (connect_ec) return void(finished = true);
                                 beast::get_lowest_layer(ws_).expires_never();
                                 ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::client));
                                 ws_.async_handshake("127.0.0.1", target, [&](beast::error_code handshake_ec) {
                                     finished = true;
                                     open_ = !handshake_ec;
                                 });
                             });
        io_.run_for(6s);
        io_.restart();
        if (!open_) return;
        read();
        runner_ = std::thread([this] { io_.run(); });
    }

    ~test_page() {
        net::post(io_, [this] {
            beast::error_code ignored;
            beast::get_lowest_layer(ws_).socket().close(ignored);
        });
        if (runner_.joinable()) {
            // The read ends with the socket; then nothing is left to run.
            runner_.join();
        }
    }

    test_page(const test_page&) = delete;
    test_page& operator=(const test_page&) = delete;

    bool open() const { return open_; }

    // True once `count` frames came within the time.
    bool wait_for_frames(std::size_t count, std::chrono::milliseconds within) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, within, [&] { return frames_.size() >= count; });
    }
    // True once the server closed the connection within the time.
    bool wait_closed(std::chrono::milliseconds within) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, within, [&] { return closed_; });
    }
    std::vector<std::string> frames() {
        std::lock_guard<std::mutex> lock(mutex_);
        return frames_;
    }

    void send_text(const std::string& text) {
        net::post(io_, [this, text] {
            beast::error_code ignored;
            ws_.text(true);
            ws_.write(net::buffer(text), ignored);
        });
    }

private:
    void read() {
        ws_.async_read(incoming_, [this](beast::error_code ec, std::size_t) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (ec) {
                closed_ = true;
                changed_.notify_all();
                return;
            }
            frames_.push_back(beast::buffers_to_string(incoming_.data()));
            incoming_.clear();
            changed_.notify_all();
            read();
        });
    }

    net::io_context io_;
    websocket::stream<beast::tcp_stream> ws_;
    beast::flat_buffer incoming_;
    bool open_ = false;
    std::thread runner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> frames_;
    bool closed_ = false;
};

inline void write_file(const std::string& path, const std::string& bytes) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Bytes that differ at every offset a wrong range could land on.
inline std::string patterned_bytes(std::size_t size) {
    std::string bytes(size, '\0');
    std::uint32_t x = 2463534242u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x & 0xff);
    }
    return bytes;
}

// A store, a page folder with a few files (and a secret beside it, outside the page
// folder), and the web share on an ephemeral port of 127.0.0.1.
class WebShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        package_ = folder_.path() + "package/";
        page_ = package_ + "http_mode/bin/";
        write_file(page_ + "index.html", "<!doctype html><title>page</title>");
        write_file(page_ + "app.js", "console.log('app');");
        write_file(page_ + "style.css", "body { margin: 0; }");
        write_file(page_ + "img/logo.png", "png bytes");
        write_file(package_ + "http_mode/secret.txt", "secret beside the page");
        write_file(package_ + "secret.txt", "secret of the package");
        platform_ = std::make_shared<web_share_platform>(package_);
        platform_->set_data_folder(store_.data_folder());
        platform_->set_local_folder(store_.root() + "/tmp/");
        install_platform_services(platform_);
        code_ = get_webshare_password();
        start_server();
    }

    void start_server() {
        web_share_setup setup;
        setup.host = "127.0.0.1";
        setup.port = 0;
        setup.limits = peer_server_limits();
        std::string error;
        ASSERT_TRUE(web_share_.start(setup, error)) << error;
        port_ = web_share_.port();
        ASSERT_NE(port_, 0);
    }

    // Shares a new file of these bytes under the name; returns its id.
    std::string share(const std::string& name, const std::string& bytes) {
        const std::string number = std::to_string(++shared_);
        const std::string local = folder_.path() + "files/" + number;
        write_file(local, bytes);
        const std::string storage_path = "token|" + number + "|" + name;
        platform_->add_file(storage_path, local);
        db_add_shared_files({Json::object{{"fileurl", storage_path}, {"filename", name}}});
        std::string id = sha256_hex(storage_path);
        locals_[id] = local;
        return id;
    }
    // The file on disk of a shared file.
    std::string local_file(const std::string& id) { return locals_[id]; }

    std::string wrong_code() const { return code_ == "1234" ? "4321" : "1234"; }

    test::temp_folder folder_;
    temp_store store_;
    std::string package_;
    std::string page_;
    std::shared_ptr<web_share_platform> platform_;
    std::string code_;
    int shared_ = 0;
    std::map<std::string, std::string> locals_;
    web_share_switch web_share_;  // last: closed before what its handlers use
    std::uint16_t port_ = 0;
};

}  // namespace web_test

}  // namespace vandrel::testing
