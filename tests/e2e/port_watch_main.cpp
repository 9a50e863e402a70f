// mesk_port_watch: notes who reaches port 45001 of its namespace, for the network tests.
//   mesk_port_watch
// Listens on UDP and TCP port 45001 of every address and prints, per datagram and per
// connection (closed at once, so a ping to it fails fast):
//   "udp SOURCE_ADDRESS"
//   "tcp SOURCE_ADDRESS"
// after "watching". Runs until its standard input ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace {

constexpr std::uint16_t watched_port = 45001;

int bound_socket(int type) {
    const int fd = socket(AF_INET, type, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(watched_port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    if (type == SOCK_STREAM && listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

void print_source(const char* kind, const sockaddr_in& from) {
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    std::printf("%s %s\n", kind, text);
    std::fflush(stdout);
}

}  // namespace

int main() {
    const int udp = bound_socket(SOCK_DGRAM);
    const int tcp = bound_socket(SOCK_STREAM);
    if (udp < 0 || tcp < 0) {
        std::perror("mesk_port_watch: cannot listen on 45001");
        return 1;
    }
    std::printf("watching\n");
    std::fflush(stdout);
    pollfd watched[3] = {{udp, POLLIN, 0}, {tcp, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (poll(watched, 3, -1) < 0) continue;
        if (watched[0].revents & POLLIN) {
            char datagram[2048];
            sockaddr_in from{};
            socklen_t length = sizeof from;
            if (recvfrom(udp, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&from), &length) >= 0)
                print_source("udp", from);
        }
        if (watched[1].revents & POLLIN) {
            sockaddr_in from{};
            socklen_t length = sizeof from;
            const int connection = accept(tcp, reinterpret_cast<sockaddr*>(&from), &length);
            if (connection >= 0) {
                close(connection);
                print_source("tcp", from);
            }
        }
        if (watched[2].revents & (POLLIN | POLLHUP)) {
            char input[256];
            if (read(STDIN_FILENO, input, sizeof input) <= 0) break;
        }
    }
    close(udp);
    close(tcp);
    return 0;
}
