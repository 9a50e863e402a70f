#include "core_lib/net/web_share/web_share_notices.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <iostream>

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/peers/peer_address.h"

namespace vandrel {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;

namespace {

// Pages send nothing the server needs; whatever they send stays small.
constexpr std::size_t frame_bytes = 4096;

http::request<http::empty_body> upgrade_request_of(const http_request& request) {
    http::request<http::empty_body> message;
    message.method_string(request.method);
    message.target(request.target);
    message.version(11);
    for (const auto& [name, value] : request.headers) message.insert(name, value);
    return message;
}

using page_stream = beast::basic_stream<net::ip::tcp, net::any_io_executor, beast::simple_rate_policy>;

// Frames a page sent, against a burst and a rate refilled as time goes.
class frame_budget {
public:
    using clock = std::chrono::steady_clock;

    // False once the page has sent more than it may.
    bool spend() {
        const clock::time_point now = clock::now();
        const double refill = std::chrono::duration<double>(now - last_).count() * limits::page_frames_per_second;
        tokens_ = std::min<double>(limits::page_frame_burst, tokens_ + refill);
        last_ = now;
        if (tokens_ < 1.0) return false;
        tokens_ -= 1.0;
        return true;
    }

private:
    double tokens_ = limits::page_frame_burst;
    clock::time_point last_ = clock::now();
};

}  // namespace

// One open page. Everything runs on its connection's network thread.
class notice_client : public std::enable_shared_from_this<notice_client> {
public:
    notice_client(upgraded_connection connection, std::shared_ptr<web_share_notices> hub)
        : ws_(std::move(connection.socket)), admitted_(std::move(connection.admitted)), hub_(std::move(hub)) {
        // Frames without payload never end a read: the bytes themselves are rationed.
        ws_.next_layer().rate_policy().read_limit(limits::page_read_bytes_per_second);
    }

    ~notice_client() { hub_->closed(this); }

    void start(const http_request& request) {
        websocket::stream_base::timeout timeouts{};
        timeouts.handshake_timeout = std::chrono::seconds(10);
        // A page that has gone without a word is found by a ping and dropped.
        timeouts.idle_timeout = std::chrono::seconds(60);
        timeouts.keep_alive_pings = true;
        ws_.set_option(timeouts);
        ws_.set_option(websocket::stream_base::decorator(
            [](websocket::response_type& response) { response.erase(http::field::server); }));
        ws_.read_message_max(frame_bytes);
        // Pings count as frames too: each one costs a pong.
        ws_.control_callback([this](websocket::frame_type kind, beast::string_view) {
            if (kind == websocket::frame_type::ping) spend_frame();
        });
        // Counted from the upgrade request on (accept): a change that comes while the
        // answer is being written waits in the queue and is not lost.
        ws_.async_accept(upgrade_request_of(request), [self = shared_from_this()](beast::error_code ec) {
            if (ec) {
                self->closing_ = true;
                self->hub_->closed(self.get());
                return;
            }
            self->open_ = true;
            if (!self->queue_.empty()) self->write_next();
            self->read();
        });
    }

    net::any_io_executor executor() { return ws_.get_executor(); }

    // Over a cap: a short answer, then the connection closes, and its place under the
    // server's caps goes with it.
    void refuse() {
        static const std::string answer =
            "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        closing_ = true;
        auto& stream = beast::get_lowest_layer(ws_);
        stream.expires_after(std::chrono::seconds(5));
        net::async_write(stream, net::buffer(answer), [self = shared_from_this()](beast::error_code, std::size_t) {
            beast::error_code ignored;
            auto& socket = beast::get_lowest_layer(self->ws_).socket();
            socket.shutdown(net::ip::tcp::socket::shutdown_both, ignored);
            socket.close(ignored);
        });
    }

    void send(const std::string& text) {
        if (closing_) return;
        if (queue_.size() >= web_share_notices::queued_per_page) {
            // It reads nothing: it is let go rather than kept growing.
            closing_ = true;
            beast::get_lowest_layer(ws_).close();
            return;
        }
        queue_.push_back(text);
        if (open_ && queue_.size() == 1) write_next();
    }

private:
    void read() {
        ws_.async_read(incoming_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) {
                self->closing_ = true;
                self->hub_->closed(self.get());
                return;
            }
            self->incoming_.clear();
            if (!self->spend_frame()) return;
            self->read();
        });
    }

    // False when the page went over its budget: it is closed then.
    bool spend_frame() {
        if (closing_) return false;
        if (frames_.spend()) return true;
        std::cerr << "web share: a page sent frames too fast, closing it\n";
        closing_ = true;
        beast::error_code ignored;
        beast::get_lowest_layer(ws_).socket().close(ignored);
        return false;
    }

    void write_next() {
        ws_.text(true);
        ws_.async_write(net::buffer(queue_.front()), [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) {
                self->closing_ = true;
                self->queue_.clear();
                return;
            }
            self->queue_.pop_front();
            if (!self->queue_.empty()) self->write_next();
        });
    }

    websocket::stream<page_stream> ws_;
    std::shared_ptr<void> admitted_;
    std::shared_ptr<web_share_notices> hub_;
    beast::flat_buffer incoming_;
    frame_budget frames_;
    std::deque<std::string> queue_;  // front: the frame being written once open
    bool open_ = false;              // the upgrade is answered
    bool closing_ = false;
};

void web_share_notices::accept(upgraded_connection connection) {
    std::string group = address_group(connection.request.peer_address);
    if (group.empty()) group = connection.request.peer_address;
    const http_request request = std::move(connection.request);
    auto client = std::make_shared<notice_client>(std::move(connection), shared_from_this());
    if (!admit(client, group)) {
        std::cerr << "web share: too many open pages, refusing one from " << group << "\n";
        client->refuse();
        return;
    }
    client->start(request);
}

void web_share_notices::send_to_all(const std::string& text) {
    std::vector<std::shared_ptr<notice_client>> open;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : pages_) {
            if (auto client = entry.held.lock()) open.push_back(std::move(client));
        }
    }
    for (auto& client : open) {
        net::post(client->executor(), [client, text] { client->send(text); });
    }
}

std::size_t web_share_notices::open_pages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pages_.size();
}

bool web_share_notices::admit(const std::shared_ptr<notice_client>& client, const std::string& group) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (pages_.size() >= limits::web_pages) return false;
    const auto mine =
        std::count_if(pages_.begin(), pages_.end(), [&](const page& open) { return open.group == group; });
    if (static_cast<std::size_t>(mine) >= limits::web_pages_per_address) return false;
    pages_.push_back({client.get(), client, group});
    return true;
}

void web_share_notices::closed(const notice_client* client) {
    // No page is locked here: the last hold of one could end inside this lock.
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(pages_, [client](const page& open) { return open.client == client || open.held.expired(); });
}

std::string files_changed_notice() { return Json(Json::object{{"action", "files_to_share_changed"}}).dump(); }

}  // namespace vandrel
