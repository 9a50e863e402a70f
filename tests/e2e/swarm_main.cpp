// mesk_swarm: a host with many addresses against one peer server, for the network tests.
//   mesk_swarm --mode MODE --target ADDRESS [--sources A,B,...] [--per-source N]
//              [--seconds S] [--id ID] [--receiver ID]
// ADDRESS may be an IPv6 link-local address with its scope ("fe80::1%eth0"). Modes:
//   ping          one connection after another from this host's own address, a
//                 /api/v1/ping as ID every 100 ms; prints "ping MS" or "ping_failed"
//   idle-tls      N connections per source, each finishes its handshake and sits idle
//   silent-tcp    N connections per source that never start the handshake
//   slow-header   N connections per source sending a request's head a byte a second
//   slow-body     N connections per source announcing 1 MiB bodies, a byte every 10 s
//   fresh-chats   takes connections on port 45001 of every source and never answers, and from
//                 each source sends chats as ids never seen before to RECEIVER, each
//                 abandoned when not answered within a second
// Connections closed by the target are opened again. Runs S seconds (at most 600), then
// prints "opened N" (connections made) and "done".
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>

namespace net = boost::asio;
using tcp = net::ip::tcp;
using namespace std::chrono_literals;
using clock_type = std::chrono::steady_clock;

namespace {

constexpr unsigned short peer_port = 45001;

std::mutex print_mutex;
void print(const std::string& line) {
    std::lock_guard<std::mutex> lock(print_mutex);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    for (std::string part; std::getline(in, part, ',');) {
        if (!part.empty()) parts.push_back(part);
    }
    return parts;
}

// "fe80::1%eth0" or "10.0.0.1" with its scope kept.
net::ip::address parse(const std::string& text) { return net::ip::make_address(text); }

struct connection {
    net::io_context io;
    net::ssl::context tls{net::ssl::context::tls_client};
    std::unique_ptr<net::ssl::stream<tcp::socket>> stream;
    clock_type::time_point next_byte{};
    std::size_t sent = 0;
};

struct options {
    std::string mode, target, id, receiver;
    std::vector<std::string> sources;
    int per_source = 4;
    int seconds = 30;
};

std::atomic<long> opened{0};
std::atomic<long> chat_ids{0};

// Connects from `source` (any address when empty); with `handshake`, through TLS too.
bool open_to(connection& c, const options& o, const std::string& source, bool handshake) {
    try {
        c.tls.set_verify_mode(net::ssl::verify_none);
        c.stream = std::make_unique<net::ssl::stream<tcp::socket>>(c.io, c.tls);
        tcp::socket& socket = c.stream->next_layer();
        const net::ip::address target = parse(o.target);
        socket.open(target.is_v4() ? tcp::v4() : tcp::v6());
        if (!source.empty()) {
            net::ip::address from = parse(source);
            if (from.is_v6() && target.is_v6()) {
                auto v6 = from.to_v6();
                v6.scope_id(target.to_v6().scope_id());
                from = v6;
            }
            socket.bind(tcp::endpoint(from, 0));
        }
        // A target that never answers holds no thread here for long.
        const timeval patience{10, 0};
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        setsockopt(socket.native_handle(), SOL_SOCKET, SO_SNDTIMEO, &patience, sizeof patience);
        socket.connect(tcp::endpoint(target, peer_port));
        if (handshake) c.stream->handshake(net::ssl::stream_base::client);
        c.sent = 0;
        c.next_byte = clock_type::now();
        ++opened;
        return true;
    } catch (const std::exception&) {
        c.stream.reset();
        return false;
    }
}

bool closed(connection& c) {
    if (!c.stream) return true;
    pollfd watched{c.stream->next_layer().native_handle(), POLLRDHUP, 0};
    return ::poll(&watched, 1, 0) > 0 && (watched.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

// Writes the next byte of the slow request when it is due; false when the write failed.
// Bytes up to `at_once` go in one write.
bool drip(connection& c, const std::string& request, std::chrono::milliseconds every, std::size_t at_once = 0) {
    if (clock_type::now() < c.next_byte || c.sent >= request.size()) return true;
    try {
        const std::size_t n = c.sent < at_once ? at_once - c.sent : 1;
        net::write(*c.stream, net::buffer(request.data() + c.sent, n));
        c.sent += n;
        c.next_byte = clock_type::now() + every;
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

// One source's connections, kept open (and dripping) until the end.
void hold(const options& o, const std::string& source, clock_type::time_point end) {
    const bool tls = o.mode != "silent-tcp";
    std::vector<std::unique_ptr<connection>> held;
    for (int i = 0; i < o.per_source; ++i) held.push_back(std::make_unique<connection>());
    const std::string head = "POST /api/v1/ping HTTP/1.1\r\nHost: victim\r\nContent-Type: application/json\r\n";
    const std::string slow_header = head + "X-Padding: " + std::string(8000, 'p') + "\r\n\r\n";
    const std::string slow_body = head + "Content-Length: 1048576\r\n\r\n" + std::string(4096, ' ');
    const std::size_t body_start = slow_body.size() - 4096;
    while (clock_type::now() < end) {
        for (auto& c : held) {
            if (closed(*c) && !open_to(*c, o, source, tls)) continue;
            bool ok = true;
            if (o.mode == "slow-header") ok = drip(*c, slow_header, 1000ms);
            // The head at once, then the body a byte at a time.
            if (o.mode == "slow-body") ok = drip(*c, slow_body, 10000ms, body_start);
            if (!ok) c->stream.reset();
        }
        std::this_thread::sleep_for(100ms);
    }
}

// A whole request on a new connection from `source`; the answer's status, or 0. With
// `abandon`, the connection is closed when no answer came within a second.
int post(const options& o, const std::string& source, const std::string& path, const std::string& body,
         bool abandon = false) {
    connection c;
    if (!open_to(c, o, source, true)) return 0;
    if (abandon) {
        const timeval patience{1, 0};
        setsockopt(c.stream->next_layer().native_handle(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    }
    try {
        const std::string request = "POST " + path + " HTTP/1.1\r\nHost: victim\r\nContent-Type: application/json\r\n" +
                                    "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                    body;
        net::write(*c.stream, net::buffer(request));
        std::string answer;
        char piece[4096];
        boost::system::error_code ec;
        for (;;) {
            const std::size_t n = c.stream->read_some(net::buffer(piece), ec);
            answer.append(piece, n);
            if (ec || answer.find("\r\n\r\n") != std::string::npos) break;
        }
        if (answer.rfind("HTTP/1.1 ", 0) != 0) return 0;
        return std::stoi(answer.substr(9, 3));
    } catch (const std::exception&) {
        return 0;
    }
}

void ping(const options& o, clock_type::time_point end) {
    const std::string body = "{\"device_id\":\"" + o.id + "\",\"alias\":\"Honest\",\"sys_info\":\"linux/test\"}";
    while (clock_type::now() < end) {
        const auto sent = clock_type::now();
        const int status = post(o, "", "/api/v1/ping", body);
        const auto ms = std::chrono::duration<double, std::milli>(clock_type::now() - sent).count();
        print(status == 200 ? "ping " + std::to_string(ms) : "ping_failed " + std::to_string(status));
        std::this_thread::sleep_for(100ms);
    }
}

void fresh_chats(const options& o, const std::string& source, clock_type::time_point end) {
    while (clock_type::now() < end) {
        const std::string id = "fresh" + std::to_string(++chat_ids);
        const std::string chat = "{\"id\":\"" + id + "\",\"sender\":\"" + id + "\",\"receiver\":\"" + o.receiver +
                                 "\",\"type\":\"text\",\"data\":\"x\"}";
        post(o, source, "/api/v1/create_chat", chat, true);
    }
}

// Takes connections on port 45001 of every source, then never answers a byte of them:
// the target's proofs wait for their deadline.
void mute_servers(const options& o, clock_type::time_point end) {
    net::io_context io;
    std::vector<std::unique_ptr<tcp::acceptor>> acceptors;
    for (const std::string& source : o.sources) {
        try {
            auto acceptor = std::make_unique<tcp::acceptor>(io, tcp::endpoint(parse(source), peer_port));
            acceptor->non_blocking(true);
            acceptors.push_back(std::move(acceptor));
        } catch (const std::exception&) {}
    }
    std::vector<tcp::socket> taken;
    while (clock_type::now() < end) {
        for (auto& acceptor : acceptors) {
            boost::system::error_code ec;
            tcp::socket socket(io);
            acceptor->accept(socket, ec);
            if (!ec && taken.size() < 4000) taken.push_back(std::move(socket));
        }
        std::this_thread::sleep_for(20ms);
    }
}

}  // namespace

int run(int argc, char** argv) {
    options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--mode") o.mode = value;
        if (name == "--target") o.target = value;
        if (name == "--sources") o.sources = split(value);
        if (name == "--per-source") o.per_source = std::clamp(std::stoi(value), 1, 16);
        if (name == "--seconds") o.seconds = std::clamp(std::stoi(value), 1, 600);
        if (name == "--id") o.id = value;
        if (name == "--receiver") o.receiver = value;
    }
    if (o.mode.empty() || o.target.empty()) {
        std::cerr << "usage: mesk_swarm --mode MODE --target ADDRESS [--sources A,B] [--per-source N] [--seconds S]\n";
        return 2;
    }
    const auto end = clock_type::now() + std::chrono::seconds(o.seconds);
    std::vector<std::thread> threads;
    if (o.mode == "ping") {
        ping(o, end);
    } else if (o.mode == "fresh-chats") {
        threads.emplace_back([&] { mute_servers(o, end); });
        for (const std::string& source : o.sources) threads.emplace_back([&, source] { fresh_chats(o, source, end); });
    } else {
        for (const std::string& source : o.sources) threads.emplace_back([&, source] { hold(o, source, end); });
    }
    for (auto& thread : threads) thread.join();
    print("opened " + std::to_string(opened.load()));
    print("done");
    return 0;
}

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::cerr << "mesk_swarm: " << e.what() << "\n";
        return 1;
    }
}
