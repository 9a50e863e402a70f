#include "core_lib/net/transfer/download_client.h"

#include <array>
#include <charconv>
#include <iostream>
#include <utility>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>

#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/file_names.h"
#include "core_lib/net/delivery/resend_queue.h"
#include "core_lib/net/http/https_client.h"
#include "core_lib/net/http/tls_context.h"
#include "core_lib/net/http/tls_sessions.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_address.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/net/peers/self_calls.h"
#include "core_lib/net/transfer/input_stream.h"
#include "core_lib/net/transfer/transfer_slots.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/downloads.h"
#include "core_lib/store/progress.h"
#include "core_lib/store/service_flags.h"

namespace vandrel {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = net::ip::tcp;

namespace {

constexpr std::int64_t idle_recheck_ms = 15000;
constexpr std::int64_t progress_interval_ms = 2000;
constexpr std::int64_t flush_interval_ms = 30000;
constexpr std::int64_t save_interval_ms = 30000;
constexpr auto idle_wait = std::chrono::milliseconds(50);

std::uint64_t decimal_or_zero(const std::string& text) {
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() ? value : 0;
}

// No data for this long ends a file; its start counts as data.
std::int64_t no_data_timeout_ms() {
    const net_state* net = current_net::find();
    return net != nullptr ? net->config.download_timeout.count() : 30000;
}

void set_status(const mesk_output& d, const std::string& status) {
    db_set_file_received_status(d.file_id, d.chat_id, status);
}

void post_error(const mesk_output& d) {
    send_to_ui(
        Json(Json::object{
                 {"action", "download_error"}, {"file_id", d.file_id}, {"chat_id", d.chat_id}, {"error", d.error}})
            .dump());
}

void set_error_once(mesk_output& d, const std::string& word) {
    if (d.error.empty()) d.error = word;
}

net::ssl::context& client_context() {
    // Never destroyed: a download may still end on its thread while the process exits.
    static auto* context = new std::shared_ptr<net::ssl::context>(make_client_tls_context());
    return **context;
}

// One "/download/v1" request, tied to the record it was opened for: once the record is
// done the connection is closed, so no late piece reaches another file. The next piece
// is read only when the previous one is on its way to the disk.
class download_connection : public std::enable_shared_from_this<download_connection> {
public:
    download_connection(net::io_context& io, std::shared_ptr<winrt_file_output> record)
        : io_(io), stream_(io, client_context()), deadline_(io), record_(std::move(record)) {}

    // `key` is the one the server must show; the extra fields go out only after it did.
    void start(const tcp::endpoint& to, std::string body, std::string key,
               const std::vector<std::pair<std::string, std::string>>& fields) {
        expected_key_ = std::move(key);
        endpoint_ = to.address().to_string() + ":" + std::to_string(to.port());
        request_.method(http::verb::post);
        request_.target("/download/v1");
        request_.version(11);
        request_.set(http::field::host, record_->peer_address);
        request_.set(http::field::content_type, "text/plain");
        for (const auto& [name, value] : fields) request_.set(name, value);
        request_.keep_alive(false);
        request_.body() = std::move(body);
        request_.prepare_payload();
        if (!prepare_client_socket(socket(), to)) {
            return net::post(io_, [self = shared_from_this()] { self->unreachable("no route"); });
        }
        // Only the connection itself has a deadline of its own, shorter than the
        // download's: a sender that takes the connection and then says nothing ends
        // as "timed out".
        deadline_.expires_after(std::chrono::milliseconds(no_data_timeout_ms() * 2 / 3));
        deadline_.async_wait([self = shared_from_this()](beast::error_code ec) {
            // The connection attempt fails, and says so.
            beast::error_code ignored;
            if (!ec) self->socket().close(ignored);
        });
        socket().async_connect(to, [self = shared_from_this()](beast::error_code ec) {
            self->deadline_.cancel();
            if (ec) return self->unreachable(ec.message());
            self->handshake();
        });
    }

    void close() {
        if (closed_) return;
        closed_ = true;
        deadline_.cancel();
        beast::error_code ignored;
        socket().close(ignored);
    }

private:
    tcp::socket& socket() { return beast::get_lowest_layer(stream_); }
    bool over() const { return closed_ || record_->done; }

    void unreachable(const std::string& why) {
        if (over()) return;
        std::cerr << "download connect() failed: " << why << "\n";
        if (record_->error.empty()) {
            record_->error = "could_not_connect";
            notify_peers_updated(record_->device);
        }
        end();
    }

    void handshake() {
        if (tls_session_cache* sessions = current_tls_sessions()) sessions->offer(endpoint_, stream_.native_handle());
        stream_.async_handshake(net::ssl::stream_base::client, [self = shared_from_this()](beast::error_code ec) {
            if (self->over()) return;
            if (ec) return self->unreachable(ec.message());
            // Only the sender's own key: anyone else at its address is no sender.
            const std::string key = server_key_sha256(self->stream_.native_handle());
            if (key.empty() || key != self->expected_key_) {
                return self->unreachable("the server showed another key");
            }
            self->send_request();
        });
    }

    void send_request() {
        http::async_write(stream_, request_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (self->over()) return;
            if (ec) return self->end_closed();
            self->parser_.body_limit(boost::none);
            // Room for a whole TLS record beside what is left over: reads are as large
            // as the buffer's free room, and small ones cost a call into TLS each.
            self->buffer_.reserve(2 * transfer_piece_bytes);
            http::async_read_header(self->stream_, self->buffer_, self->parser_,
                                    [self](beast::error_code read_error, std::size_t) {
                                        if (self->over()) return self->close();
                                        if (read_error) return self->end_closed();
                                        self->on_header();
                                    });
        });
    }

    void on_header() {
        // The session tickets came before the answer.
        if (tls_session_cache* sessions = current_tls_sessions()) sessions->keep(endpoint_, stream_.native_handle());
        const unsigned status = parser_.get().result_int();
        if (status == 404 || status == 403) {
            record_->error = status == 404 ? "remote_file_not_found" : "remote_file_paused";
            set_status(*record_, "error");
            return end();
        }
        // Only a 200 answer's body is ever written.
        if (status != 200) return end_closed();
        read_piece();
    }

    void read_piece() {
        if (parser_.is_done()) return end_closed();
        parser_.get().body().data = piece_.data();
        parser_.get().body().size = piece_.size();
        http::async_read(stream_, buffer_, parser_, [self = shared_from_this()](beast::error_code ec, std::size_t) {
            if (ec == http::error::need_buffer) ec = {};
            const std::size_t n = self->piece_.size() - self->parser_.get().body().size;
            if (n > 0 && !self->take_piece(n)) return;
            if (self->over()) return self->close();
            if (ec) return self->end_closed();
            self->read_piece();
        });
    }

    // false when the download ended with this piece.
    bool take_piece(std::size_t n) {
        mesk_output& d = *record_;
        if (over()) {
            close();
            return false;
        }
        // Never past the file's size: what is more is no part of it.
        const std::uint64_t room = d.total_bytes - std::min(d.total_bytes, d.bytes_transferred);
        const auto wanted = static_cast<std::uint32_t>(std::min<std::uint64_t>(n, room));
        const std::uint32_t written = wanted > 0 ? d.write(piece_.data(), wanted) : 0;
        d.bytes_transferred += written;
        const std::int64_t now = now_ms();
        if (now - d.last_flush_ms > flush_interval_ms) {
            d.flush();
            d.last_flush_ms = now;
        }
        d.last_data_ms = now;
        if (now - d.last_progress_ms > save_interval_ms)
            db_set_file_to_receive_progress(d.bytes_transferred, d.file_id);
        if (now - d.last_progress_ms > progress_interval_ms) {
            d.last_progress_ms = now;
            send_to_ui(download_progress_record(d));
        }
        if (written != n) {
            end_closed();
            return false;
        }
        return true;
    }

    void end_closed() {
        set_error_once(*record_, "connection_closed");
        end();
    }

    // The download thread's loop ends the file at once.
    void end() {
        record_->done = true;
        close();
        io_.stop();
    }

    net::io_context& io_;
    std::string endpoint_;  // "ADDRESS:PORT", the key of its TLS session
    beast::ssl_stream<tcp::socket> stream_;
    net::steady_timer deadline_;
    std::shared_ptr<winrt_file_output> record_;
    http::request<http::string_body> request_;
    http::response_parser<http::buffer_body> parser_;
    beast::flat_buffer buffer_;
    std::array<char, transfer_piece_bytes> piece_{};
    std::string expected_key_;
    bool closed_ = false;
};

// Puts the whole file on disk under its final name and records the outcome.
void complete_file(winrt_file_output& d) {
    if (d.finish()) {
        set_status(d, "complete");
        trigger_resend();
    } else {
        show_toast("rename error", d.filepath);
        set_status(d, "error");
    }
}

// The download thread's state: the running file and its connection.
struct downloader {
    net::io_context io;
    net::executor_work_guard<net::io_context::executor_type> work = net::make_work_guard(io);
    std::shared_ptr<winrt_file_output> current;
    std::shared_ptr<download_connection> connection;
    // The start of the current file ended it and told what there was to tell.
    bool settled_at_start = false;

    void end_connection() {
        if (connection) connection->close();
        connection.reset();
    }

    void start_file_download(const std::string& file_id, const std::string& download_id);
    // Ends the running file when it has had no data for too long or the user stopped
    // its download, also while no piece arrives.
    void check_running();
    void advance_downloads();
};

void downloader::start_file_download(const std::string& file_id, const std::string& download_id) {
    winrt_file_output& d = *current;
    const Json file = db_get_file_to_receive(file_id);
    settled_at_start = false;
    d.file_id = file_id;
    d.chat_id = download_id;
    if (!file["filename"].is_string()) {
        set_status(d, "error");
        d.done = true;
        settled_at_start = true;
        return;
    }
    d.filepath = file["filename"].string_value();
    d.device = file["sender"].string_value();
    d.peer_address = get_peer_ip(d.device);
    d.total_bytes = decimal_or_zero(file["filesize"].string_value());
    d.done = false;

    const std::string name = safe_file_name(d.filepath);
    const std::string target = download_target_for_file(name);
    // A file of that name that is there already, and its size.
    const bool exists = !target.empty() && !find_file_in_folder(target).empty();
    const std::uint64_t existing = exists ? get_file_size(target) : 0;
    d.bytes_transferred = existing;
    d.other_files = db_get_download_progress(download_id, file_id);
    d.last_progress_ms = 0;
    d.last_flush_ms = d.last_data_ms = now_ms();

    if (exists && existing == d.total_bytes) {
        // Received before: nothing to fetch. The end of the file tells the rest.
        set_status(d, "complete");
        trigger_resend();
        db_set_file_to_receive_progress(existing, file_id);
        Json::object record{{"action", "update_bytes_transferred"},
                            {"file_id", d.file_id},
                            {"chat_id", d.chat_id},
                            {"bytes_transferred", std::to_string(existing)},
                            {"total_bytes", std::to_string(existing)},
                            {"device", d.device},
                            {"filepath", resolve_storage_path(target)},
                            {"other_files", d.other_files}};
        send_to_ui(Json(record).dump());
        record["action"] = "download_completed";
        send_to_ui(Json(std::move(record)).dump());
        d.done = true;
        return;
    }
    const auto fail = [this, &d](const std::string& word, const char* status) {
        set_error_once(d, word);
        post_error(d);
        if (status) set_status(d, status);
        d.done = true;
        settled_at_start = true;
    };
    if (d.peer_address.empty()) {
        d.error = "DEVICE_NOT_CONNECTED";
        return fail(d.error, nullptr);
    }
    // A finished file of another size in the way goes aside, under its size.
    if (exists && !d.rename_to(backup_file_name(name, existing))) return fail("unknown backup error", "");
    const std::string temporary = temporary_file_name(name);
    if (!d.create(temporary)) return fail("unknown open file error", "error");
    std::optional<std::uint64_t> offset = d.size();
    if (!offset) return fail("could not get filesize for " + temporary, "error");
    // Bytes of a larger file, or of another transfer of the same name, are no part of
    // this one: it starts again from its first byte.
    if (*offset > d.total_bytes || (*offset > 0 && d.begun_for_other(file_id))) {
        if (!d.discard()) return fail("unknown delete error", "error");
        if (!d.create(temporary)) return fail("unknown file open error", "error");
        offset = d.size();
        if (!offset) return fail("could not get filesize for " + temporary, "error");
    }
    d.mark_begun_for(file_id);
    d.bytes_transferred = *offset;

    boost::system::error_code ec;
    std::string literal = d.peer_address;
    if (literal.size() > 2 && literal.front() == '[') literal = literal.substr(1, literal.size() - 2);
    const net::ip::address address = net::ip::make_address(literal, ec);
    if (ec) return fail("DEVICE_NOT_CONNECTED", "error");
    const Json body(Json::object{{"chat_id", download_id}, {"file_id", file_id}, {"offset", std::to_string(*offset)}});
    // This device as its own sender (the self test's loop-back): its own server and key.
    const bool own = is_own_device(d.device);
    if (own && d.peer_address != own_loopback_address()) return fail("DEVICE_NOT_CONNECTED", "error");
    const std::uint16_t port = own ? own_rest_port() : current_net::get().peer_port.load();
    std::string key = own ? own_key_sha256() : db_get_device_key(d.device);
    connection = std::make_shared<download_connection>(io, current);
    connection->start(tcp::endpoint(address, port), body.dump(), std::move(key),
                      own ? self_call_fields() : std::vector<std::pair<std::string, std::string>>());
}

void downloader::check_running() {
    if (!current || current->done) return;
    mesk_output& d = *current;
    if (now_ms() - d.last_data_ms > no_data_timeout_ms()) {
        d.error = "timed out";
    } else if (stopped_download_id().remove(d.chat_id)) {
        d.error = "stopped_by_user";
    } else {
        return;
    }
    set_status(d, "error");
    d.done = true;
    end_connection();
}

void downloader::advance_downloads() {
    if (core_stopping()) return;
    if (current) {
        check_running();
        winrt_file_output& d = *current;
        if (!d.done) return;
        end_connection();
        if (!settled_at_start) {
            db_set_file_to_receive_progress(d.bytes_transferred, d.file_id);
            send_to_ui(download_progress_record(d));
            // A whole file reaches the disk as it is finished; a part of one only for a
            // later attempt.
            if (d.bytes_transferred != d.total_bytes) d.flush();
            if (d.bytes_transferred == d.total_bytes) {
                complete_file(d);
            } else {
                set_status(d, "error");
                set_error_once(d, "unknown error");
                post_error(d);
            }
        }
        current.reset();
        settled_at_start = false;
    }
    for (const std::string& peer : transfer_peer_ids()) {
        const Json next = db_get_next_queued_file_to_receive(peer);
        if (!next["file_id"].is_string() || next["file_id"].string_value().empty()) continue;
        current = std::make_shared<winrt_file_output>();
        start_file_download(next["file_id"].string_value(), next["download_id"].string_value());
        break;
    }
    set_downloads_pending(false);
}

}  // namespace

std::string download_progress_record(const mesk_output& d) {
    return Json(Json::object{{"action", "update_bytes_transferred"},
                             {"file_id", d.file_id},
                             {"chat_id", d.chat_id},
                             {"bytes_transferred", std::to_string(d.bytes_transferred)},
                             {"total_bytes", std::to_string(d.total_bytes)},
                             {"device", d.device},
                             {"filepath", d.filepath},
                             {"other_files", d.other_files}})
        .dump();
}

void download_loop() {
    downloader state;
    std::int64_t idle_mark = 0;
    while (!core_stopping()) {
        const std::int64_t now = now_ms();
        if (!state.current && now - idle_mark > idle_recheck_ms) {
            set_downloads_pending(true);
            idle_mark = now;
        }
        // A pass that fails (the store, say) is told and the loop goes on.
        try {
            if (state.current || get_downloads_pending()) state.advance_downloads();
            // A file that ended makes way for the next at once.
            while (state.current && state.current->done && !core_stopping()) state.advance_downloads();
        } catch (const std::exception& e) {
            std::cerr << "download pass failed: " << e.what() << "\n";
        }
        state.io.restart();
        state.io.run_for(idle_wait);
    }
    state.end_connection();
    state.work.reset();
    state.io.restart();
    state.io.run_for(std::chrono::milliseconds(100));
}

void start_download_thread() { current_net::get().threads.start("mesk-download", download_loop); }

}  // namespace vandrel
