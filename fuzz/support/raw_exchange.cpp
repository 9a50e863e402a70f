#include "fuzz/support/raw_exchange.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>

namespace vandrel::fuzzing {

namespace {

[[noreturn]] void fail(const std::string& what) {
    std::cerr << "raw exchange: " << what << "\n";
    std::abort();
}

sockaddr_in ipv4(const std::string& address, std::uint16_t port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) fail("not an IPv4 address: " + address);
    return where;
}

// Closes the descriptor however the exchange ends.
class socket_handle {
public:
    socket_handle() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        if (fd_ < 0) fail(std::string("socket: ") + std::strerror(errno));
    }
    ~socket_handle() { ::close(fd_); }
    socket_handle(const socket_handle&) = delete;
    socket_handle& operator=(const socket_handle&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

// libFuzzer's timer signal may interrupt connect; the connection then goes on by itself
// and is waited for, as a second connect would fail with EALREADY.
void connect_to(int fd, const sockaddr_in& to, const std::string& where) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0) return;
    if (errno != EINTR) fail("connect " + where + ": " + std::strerror(errno));
    pollfd wait{fd, POLLOUT, 0};
    while (::poll(&wait, 1, -1) < 0) {
        if (errno != EINTR) fail("connect " + where + ": " + std::strerror(errno));
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) {
        fail("connect " + where + ": " + std::strerror(error != 0 ? error : errno));
    }
}

}  // namespace

std::string raw_exchange(const std::string& source, const std::string& host, std::uint16_t port,
                         const std::string& bytes, std::chrono::milliseconds limit) {
    socket_handle connection;
    const int fd = connection.fd();
    const sockaddr_in from = ipv4(source, 0);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&from), sizeof from) != 0) {
        fail("bind " + source + ": " + std::strerror(errno));
    }
    const sockaddr_in to = ipv4(host, port);
    connect_to(fd, to, host + ":" + std::to_string(port));

    // The server may close early (an oversized header, say): what it did not read is lost.
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sent += static_cast<std::size_t>(n);
    }
    ::shutdown(fd, SHUT_WR);

    std::string answer;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[16384];
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            fail("the server held the connection for " + std::to_string(limit.count()) +
                 " ms after the request ended; it answered " + std::to_string(answer.size()) + " bytes");
        }
        pollfd wait{fd, POLLIN, 0};
        const int ready = ::poll(&wait, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // closed, or reset
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    return answer;
}

}  // namespace vandrel::fuzzing
