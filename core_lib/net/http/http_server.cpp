#include "core_lib/net/http/http_server.h"

#include <atomic>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>

#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/http/acceptor.h"
#include "core_lib/net/http/fair_pool.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/peers/peer_address.h"

namespace vandrel {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

std::string http_request::header(const std::string& name) const {
    auto it = headers.find(to_lower(name));
    return it == headers.end() ? std::string() : it->second;
}

namespace {

struct server_state {
    http_limits limits;
    http_fields common_fields;
    http_handler handler;
    upgrade_handler upgrade;
    std::shared_ptr<net::ssl::context> tls;
    std::shared_ptr<fair_pool> workers;

    // Open connections, in all and per address; sessions end on any thread.
    std::mutex connections_mutex;
    std::size_t open = 0;
    std::map<std::string, std::size_t> open_per_address;
    // Body bytes the connections may buffer now.
    std::atomic<std::uint64_t> buffered{0};

    // False when the connection is over a cap; otherwise it counts until released.
    bool admit(const std::string& address) {
        std::lock_guard<std::mutex> lock(connections_mutex);
        std::size_t& mine = open_per_address[address];
        if (open >= limits.max_connections || mine >= limits.max_connections_per_address) {
            if (mine == 0) open_per_address.erase(address);
            return false;
        }
        ++open;
        ++mine;
        return true;
    }
    void release(const std::string& address) {
        std::lock_guard<std::mutex> lock(connections_mutex);
        --open;
        auto it = open_per_address.find(address);
        if (it != open_per_address.end() && --it->second == 0) open_per_address.erase(it);
    }
    // Reserves room for a body; false when the budget cannot hold it.
    bool reserve(std::uint64_t bytes) {
        std::uint64_t now = buffered.load();
        do {
            if (bytes > limits.buffered_body_bytes || now > limits.buffered_body_bytes - bytes) return false;
        } while (!buffered.compare_exchange_weak(now, now + bytes));
        return true;
    }
    void unreserve(std::uint64_t bytes) { buffered -= bytes; }
};

// One admitted connection, counted while it lives.
class connection_ticket {
public:
    connection_ticket(std::shared_ptr<server_state> state, std::string address)
        : state_(std::move(state)), address_(std::move(address)) {}
    ~connection_ticket() { state_->release(address_); }
    connection_ticket(const connection_ticket&) = delete;
    connection_ticket& operator=(const connection_ticket&) = delete;

private:
    std::shared_ptr<server_state> state_;
    std::string address_;
};

using plain_stream = beast::tcp_stream;

constexpr std::size_t kept_buffer_bytes = std::size_t{64} * 1024;
using tls_stream = beast::ssl_stream<beast::tcp_stream>;

// A header line with CR or LF would let a handler's text split the answer.
bool safe_field(const std::string& name, const std::string& value) {
    return !name.empty() && name.find_first_of("\r\n:") == std::string::npos &&
           value.find_first_of("\r\n") == std::string::npos;
}

template <class Message>
void add_fields(Message& message, const http_fields& common, const http_fields& own) {
    for (const http_fields* list : {&common, &own}) {
        for (const auto& [name, value] : *list) {
            if (safe_field(name, value)) message.insert(name, value);
        }
    }
}

bool is_parse_error(const beast::error_code& ec) {
    static const auto& http_category = http::make_error_code(http::error::bad_method).category();
    return ec.category() == http_category && ec != http::error::end_of_stream && ec != http::error::partial_message;
}

// One connection: requests are read, answered and written strictly one after the
// other, so at most one operation (and its time-out) is pending at any time. Its
// handlers run on its context's one thread; its handler's answer comes back there.
template <class Stream>
class session : public std::enable_shared_from_this<session<Stream>> {
    static constexpr bool is_tls = std::is_same_v<Stream, tls_stream>;

public:
    session(tcp::socket socket, std::shared_ptr<server_state> shared, std::string address,
            std::unique_ptr<connection_ticket> admitted)
        : stream(make_stream(std::move(socket), *shared)),
          state(std::move(shared)),
          peer(std::move(address)),
          ticket(std::move(admitted)) {}

    ~session() { release_body(); }

    // The connection's executor: every handler of the session runs through it.
    auto executor() { return stream.get_executor(); }

    void start() {
        if constexpr (is_tls) {
            lowest().expires_after(state->limits.handshake_timeout);
            stream.async_handshake(net::ssl::stream_base::server,
                                   [self = this->shared_from_this()](beast::error_code ec) {
                                       if (ec) return self->close();
                                       self->wait_for_request();
                                   });
        } else {
            wait_for_request();
        }
    }

private:
    static Stream make_stream(tcp::socket socket, const server_state& state) {
        if constexpr (is_tls) {
            return Stream(std::move(socket), *state.tls);
        } else {
            return Stream(std::move(socket));
        }
    }

    beast::tcp_stream& lowest() { return beast::get_lowest_layer(stream); }

    // Idle until the first byte of the next request.
    void wait_for_request() {
        if (buffer.size() > 0) return read_header();
        lowest().expires_after(state->limits.idle_timeout);
        stream.async_read_some(buffer.prepare(4096),
                               [self = this->shared_from_this()](beast::error_code ec, std::size_t n) {
                                   if (ec) return self->close();
                                   self->buffer.commit(n);
                                   self->read_header();
                               });
    }

    void read_header() {
        parser.emplace();
        parser->header_limit(state->limits.header_bytes);
        parser->body_limit(state->limits.body_bytes);
        lowest().expires_after(state->limits.header_timeout);
        http::async_read_header(stream, buffer, *parser,
                                [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                                    if (ec) return self->fail(ec);
                                    self->on_header();
                                });
    }

    void on_header() {
        // Room for the body in the server's budget before a byte of it is read.
        std::uint64_t need = 0;
        if (auto length = parser->content_length()) {
            need = *length;
        } else if (parser->chunked()) {
            need = state->limits.body_bytes;
        }
        if (need > 0) {
            if (!state->reserve(need)) {
                parser.reset();
                keep_alive = false;
                return send(error_answer(503));
            }
            reserved = need;
        }
        if (!parser->is_done() && beast::iequals(parser->get()[http::field::expect], "100-continue")) {
            static const std::string go_on = "HTTP/1.1 100 Continue\r\n\r\n";
            lowest().expires_after(state->limits.write_timeout);
            net::async_write(stream, net::buffer(go_on),
                             [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                                 if (ec) return self->close();
                                 self->read_body();
                             });
            return;
        }
        read_body();
    }

    void read_body() {
        lowest().expires_after(state->limits.body_timeout);
        http::async_read(stream, buffer, *parser, [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return self->fail(ec);
            self->handle();
        });
    }

    void release_body() {
        if (reserved == 0) return;
        state->unreserve(reserved);
        reserved = 0;
    }

    void fail(const beast::error_code& ec) {
        release_body();
        parser.reset();
        keep_alive = false;
        if (ec == http::error::header_limit) return send(error_answer(431));
        if (ec == http::error::body_limit) return send(error_answer(413));
        if (is_parse_error(ec)) return send(error_answer(400));
        close();  // time-out, reset, or the peer closed
    }

    static http_answer error_answer(unsigned status) {
        http_answer answer;
        answer.status = status;
        answer.close = true;
        return answer;
    }

    void handle() {
        auto& message = parser->get();
        const bool upgrade = wants_upgrade(message);
        http_request request;
        request.method = std::string(message.method_string());
        request.target = std::string(message.target());
        request.path = request.target.substr(0, request.target.find('?'));
        request.body = std::move(message.body());
        request.peer_address = peer;
        for (const auto& field : message) {
            request.headers.try_emplace(to_lower(std::string(field.name_string())), std::string(field.value()));
        }
        keep_alive = message.keep_alive();
        version = message.version();
        parser.reset();
        if (upgrade) return hand_over(std::move(request));
        // A large body grew the read buffer: an idle connection keeps no more than a little.
        if (buffer.capacity() > kept_buffer_bytes) buffer.shrink_to_fit();

        // The handler runs on a worker; its answer comes back to this connection's thread.
        auto self = this->shared_from_this();
        auto job = [self, request = std::move(request)]() mutable {
            http_answer answer = self->answer_for(request);
            request = http_request{};
            net::post(self->stream.get_executor(), [self, answer = std::move(answer)]() mutable {
                self->release_body();
                self->send(std::move(answer));
            });
        };
        if (!state->workers->submit(peer, std::move(job))) {
            release_body();
            keep_alive = false;
            send(error_answer(503));
        }
    }

    bool wants_upgrade(const http::request<http::string_body>& message) const {
        if constexpr (is_tls) {
            return false;
        } else {
            return state->upgrade && beast::websocket::is_upgrade(message);
        }
    }

    // The socket and its place under the caps go to the upgrade handler; this session
    // ends here. A client sends no frame before the upgrade is answered, so nothing
    // read past the request is lost.
    void hand_over(http_request request) {
        if constexpr (!is_tls) {
            release_body();
            upgraded_connection connection{std::move(request), lowest().release_socket(),
                                           std::shared_ptr<void>(std::move(ticket))};
            try {
                state->upgrade(std::move(connection));
            } catch (const std::exception& e) {
                std::cerr << "websocket upgrade failed: " << e.what() << "\n";
            } catch (...) {
                std::cerr << "websocket upgrade failed\n";
            }
        }
    }

    http_answer answer_for(const http_request& request) const {
        try {
            return state->handler(request);
        } catch (const std::exception& e) {
            std::cerr << "http handler failed on " << request.path << ": " << e.what() << "\n";
        } catch (...) {
            std::cerr << "http handler failed on " << request.path << "\n";
        }
        http_answer failed;
        failed.status = 500;
        return failed;
    }

    void send(http_answer answer) {
        close_after = answer.close || !keep_alive;
        unsigned status = answer.status >= 100 && answer.status <= 999 ? answer.status : 500;
        if (!answer.rest) return send_whole(status, std::move(answer));

        head.emplace();
        head->result(status);
        head->version(version);
        add_fields(*head, state->common_fields, answer.fields);
        chunked = answer.chunked;
        if (chunked) {
            head->chunked(true);
        } else {
            remaining = answer.content_length.value_or(answer.body.size());
            head->content_length(remaining);
        }
        head->keep_alive(!close_after);
        source = std::move(answer.rest);
        piece = std::move(answer.body);
        head_writer.emplace(*head);
        lowest().expires_after(state->limits.write_timeout);
        http::async_write_header(stream, *head_writer,
                                 [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                                     if (ec) return self->close();
                                     self->write_piece();
                                 });
    }

    // The whole answer in one buffer and one write: the header, then the body as one
    // chunk (none when it is empty) and the last chunk, or the body after a length.
    void send_whole(unsigned status, http_answer answer) {
        http::response<http::empty_body> header;
        header.result(status);
        header.version(version);
        add_fields(header, state->common_fields, answer.fields);
        if (answer.chunked) {
            header.chunked(true);
        } else {
            header.content_length(answer.body.size());
        }
        header.keep_alive(!close_after);
        std::ostringstream text;
        text << header.base();
        wire = text.str();
        if (!answer.chunked) {
            wire += answer.body;
        } else {
            if (!answer.body.empty()) wire += beast::buffers_to_string(http::make_chunk(net::buffer(answer.body)));
            wire += beast::buffers_to_string(http::make_chunk_last());
        }
        lowest().expires_after(state->limits.write_timeout);
        net::async_write(stream, net::buffer(wire),
                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                             self->wire = std::string();
                             if (ec) return self->close();
                             self->after_answer();
                         });
    }

    // The current piece goes out; the source is asked for the next one only after it.
    void write_piece() {
        if (piece.empty()) return next_piece();
        auto done = [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec) return self->close();
            self->next_piece();
        };
        lowest().expires_after(state->limits.write_timeout);
        if (chunked) {
            net::async_write(stream, http::make_chunk(net::buffer(piece)), std::move(done));
        } else {
            if (piece.size() > remaining) piece.resize(static_cast<std::size_t>(remaining));
            remaining -= piece.size();
            net::async_write(stream, net::buffer(piece), std::move(done));
        }
    }

    void next_piece() {
        piece.clear();
        if (!chunked && remaining == 0) return finish_stream();
        body_source::step step = body_source::step::abort;
        try {
            step = source->next_piece(piece);
        } catch (const std::exception& e) {
            std::cerr << "http body source failed: " << e.what() << "\n";
        } catch (...) {
            std::cerr << "http body source failed\n";
        }
        if (step == body_source::step::piece && !piece.empty()) return write_piece();
        if (step == body_source::step::abort) return close();
        if (!chunked) {
            // The body ended short of its announced length: only closing tells the peer.
            if (remaining > 0) return close();
            return finish_stream();
        }
        lowest().expires_after(state->limits.write_timeout);
        net::async_write(stream, http::make_chunk_last(),
                         [self = this->shared_from_this()](beast::error_code ec, std::size_t) {
                             if (ec) return self->close();
                             self->finish_stream();
                         });
    }

    void finish_stream() {
        source.reset();
        head_writer.reset();
        head.reset();
        piece.clear();
        piece.shrink_to_fit();
        after_answer();
    }

    void after_answer() {
        if (close_after) return shut_down();
        wait_for_request();
    }

    void shut_down() {
        if constexpr (is_tls) {
            lowest().expires_after(
                std::min<std::chrono::milliseconds>(state->limits.write_timeout, std::chrono::seconds(5)));
            stream.async_shutdown([self = this->shared_from_this()](beast::error_code) { self->close(); });
        } else {
            beast::error_code ignored;
            lowest().socket().shutdown(tcp::socket::shutdown_send, ignored);
            close();
        }
    }

    void close() {
        source.reset();
        beast::error_code ignored;
        lowest().socket().shutdown(tcp::socket::shutdown_both, ignored);
        lowest().close();
    }

    Stream stream;
    std::shared_ptr<server_state> state;
    std::string peer;
    std::unique_ptr<connection_ticket> ticket;
    std::uint64_t reserved = 0;  // of the server's body budget, for the request under way
    beast::flat_buffer buffer;
    std::optional<http::request_parser<http::string_body>> parser;
    bool keep_alive = false;
    unsigned version = 11;
    bool close_after = false;

    std::string wire;  // a whole answer being written
    std::optional<http::response<http::empty_body>> head;
    std::optional<http::response_serializer<http::empty_body>> head_writer;
    std::shared_ptr<body_source> source;
    std::string piece;
    bool chunked = true;
    std::uint64_t remaining = 0;  // bytes still due on a Content-Length stream
};

class listener : public std::enable_shared_from_this<listener> {
public:
    listener(io_manager& owner, tcp::acceptor listening, std::shared_ptr<server_state> shared)
        : manager(owner), acceptor(std::move(listening)), retry(acceptor.get_executor()), state(std::move(shared)) {}

    // One accept at a time; each connection goes to the manager's contexts in turn, so
    // that its handlers never run at once while connections spread over the threads.
    void accept() {
        acceptor.async_accept(manager.next_context(),
                              [self = shared_from_this()](beast::error_code ec, tcp::socket socket) {
                                  self->on_accept(ec, std::move(socket));
                              });
    }

private:
    void on_accept(const beast::error_code& ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted) return;
        if (ec) {
            // Out of descriptors and the like: wait a little rather than spin.
            if (ec != last_error) std::cerr << "accept failed: " << ec.message() << "\n";
            last_error = ec;
            retry.expires_after(std::chrono::milliseconds(100));
            retry.async_wait([self = shared_from_this()](beast::error_code wait_ec) {
                if (!wait_ec) self->accept();
            });
            return;
        }
        last_error = {};
        start_session(std::move(socket));
        accept();
    }

    void start_session(tcp::socket socket) {
        beast::error_code ec;
        socket.set_option(tcp::no_delay(true), ec);
        tcp::endpoint remote = socket.remote_endpoint(ec);
        if (ec) return;  // the peer is already gone
        std::string peer = peer_address_text(remote.address());
        // Over a cap: closed at once, so that the descriptor is free again.
        if (!state->admit(peer)) return;
        auto ticket = std::make_unique<connection_ticket>(state, peer);
        if (state->tls) {
            begin(std::make_shared<session<tls_stream>>(std::move(socket), state, std::move(peer), std::move(ticket)));
        } else {
            begin(
                std::make_shared<session<plain_stream>>(std::move(socket), state, std::move(peer), std::move(ticket)));
        }
    }

    // The session starts on its own thread: its handshake's work is not the listener's.
    template <class Session>
    static void begin(std::shared_ptr<Session> started) {
        auto executor = started->executor();
        net::post(executor, [started = std::move(started)] { started->start(); });
    }

    io_manager& manager;  // outlives the listener, which it keeps
    tcp::acceptor acceptor;
    net::steady_timer retry;
    std::shared_ptr<server_state> state;
    beast::error_code last_error;
};

}  // namespace

std::uint16_t start_http_server(io_manager& manager, http_server_config config, std::string& error) {
    tcp::acceptor acceptor = open_listener(manager.context(), config.host, config.port, error);
    if (!acceptor.is_open()) return 0;
    beast::error_code ec;
    std::uint16_t port = acceptor.local_endpoint(ec).port();
    if (ec) {
        error = "cannot read the listening port: " + ec.message();
        return 0;
    }
    auto state = std::make_shared<server_state>();
    state->limits = config.limits;
    state->common_fields = std::move(config.common_fields);
    state->handler = std::move(config.handler);
    state->upgrade = std::move(config.upgrade);
    state->tls = std::move(config.tls);
    state->workers = std::make_shared<fair_pool>(config.limits.workers, config.limits.running_per_address,
                                                 config.worker_thread_name);
    // The workers end before the connections they answer do.
    manager.add_stop_hook([workers = state->workers] { workers->stop(); });
    auto server = std::make_shared<listener>(manager, std::move(acceptor), std::move(state));
    manager.keep(server);
    net::post(manager.context(), [server] { server->accept(); });
    return port;
}

}  // namespace vandrel
