// mesk_announce_flood: forged announce datagrams at one device, for the network tests.
//   mesk_announce_flood --target ADDRESS --own-id ID --count N --sources A,B,...
//                       --spoof-net P.Q [--rate PER_SECOND] [--linger SECONDS]
// Sends N datagrams to ADDRESS:45001, valid announces (random ids) and invalid ones
// (wrong field counts, oversized, binary, the target's own id, an address as id), one in
// four from a socket bound to one of the SOURCES (addresses of this namespace, which
// receive the answers) and the rest through a raw socket from forged sources P.Q.x.y.
// Meanwhile it counts the datagrams that arrive on port 45001 addressed to one of the
// SOURCES (answers; broadcasts do not count). At the end it prints:
//   "sent N", "replies TOTAL", "most_to_one MAX", "seconds ELAPSED"
// ELAPSED running from the first datagram sent to the end of the LINGER after the last.
#include <arpa/inet.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::uint16_t announce_port = 45001;

struct options {
    std::string target;
    std::string own_id;
    long count = 0;
    std::vector<std::string> sources;
    std::string spoof_net;
    long rate = 20000;
    int linger_seconds = 2;
};

bool parse_options(int argc, char** argv, options& out) {
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string name = argv[i];
        const std::string value = argv[i + 1];
        if (name == "--target") {
            out.target = value;
        } else if (name == "--own-id") {
            out.own_id = value;
        } else if (name == "--count") {
            out.count = std::stol(value);
        } else if (name == "--sources") {
            std::stringstream list(value);
            for (std::string s; std::getline(list, s, ',');) out.sources.push_back(s);
        } else if (name == "--spoof-net") {
            out.spoof_net = value;
        } else if (name == "--rate") {
            out.rate = std::stol(value);
        } else if (name == "--linger") {
            out.linger_seconds = std::stoi(value);
        } else {
            return false;
        }
    }
    return argc % 2 == 1 && !out.target.empty() && !out.sources.empty() && !out.spoof_net.empty() && out.rate > 0;
}

in_addr ipv4(const std::string& text) {
    in_addr address{};
    inet_pton(AF_INET, text.c_str(), &address);
    return address;
}

// The answers: datagrams to port 45001 whose destination is one of the sources.
class reply_counter {
public:
    explicit reply_counter(const std::vector<std::string>& sources) {
        for (const auto& s : sources) counts_[ipv4(s).s_addr] = 0;
        fd_ = socket(AF_INET, SOCK_DGRAM, 0);
        const int on = 1;
        setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        setsockopt(fd_, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
        sockaddr_in any{};
        any.sin_family = AF_INET;
        any.sin_port = htons(announce_port);
        if (bind(fd_, reinterpret_cast<sockaddr*>(&any), sizeof any) != 0) {
            std::perror("mesk_announce_flood: cannot listen on 45001");
            std::exit(1);
        }
        thread_ = std::thread([this] { run(); });
    }
    ~reply_counter() {
        done_ = true;
        thread_.join();
        close(fd_);
    }
    reply_counter(const reply_counter&) = delete;
    reply_counter& operator=(const reply_counter&) = delete;

    void totals(long& all, long& most) {
        std::lock_guard<std::mutex> lock(mutex_);
        all = 0;
        most = 0;
        for (const auto& [address, n] : counts_) {
            all += n;
            most = std::max(most, n);
        }
    }

private:
    void run() {
        while (!done_) {
            pollfd p{fd_, POLLIN, 0};
            if (poll(&p, 1, 100) <= 0) continue;
            char data[2048];
            char control[256];
            iovec part{data, sizeof data};
            msghdr message{};
            message.msg_iov = &part;
            message.msg_iovlen = 1;
            message.msg_control = control;
            message.msg_controllen = sizeof control;
            if (recvmsg(fd_, &message, 0) < 0) continue;
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
                in_pktinfo info{};
                std::memcpy(&info, CMSG_DATA(c), sizeof info);
                std::lock_guard<std::mutex> lock(mutex_);
                auto it = counts_.find(info.ipi_addr.s_addr);
                if (it != counts_.end()) ++it->second;
            }
        }
    }

    int fd_ = -1;
    std::atomic<bool> done_{false};
    std::mutex mutex_;
    std::map<in_addr_t, long> counts_;  // guarded by mutex_
    std::thread thread_;
};

// The text of datagram number i: mostly valid announces, the rest each kind of invalid.
std::string payload(long i, const std::string& own_id, std::mt19937_64& draw) {
    char id[65];
    std::snprintf(id, sizeof id, "%016llx%016llx%016llx%016llx", static_cast<unsigned long long>(draw()),
                  static_cast<unsigned long long>(draw()), static_cast<unsigned long long>(draw()),
                  static_cast<unsigned long long>(draw()));
    switch (i % 10) {
        case 0:
            return std::string(id) + "|linux/forged";  // two fields
        case 1:
            return std::string(id) + "|linux/forged|alias|extra";  // four fields
        case 2:
            return std::string(id) + "|" + std::string(1100, 'x') + "|alias";  // too long
        case 3: {
            std::string bytes(64, '\0');
            for (char& b : bytes) b = static_cast<char>(draw());
            return bytes;
        }
        case 4:
            return own_id + "|linux/forged|Itself";
        case 5:
            return "10.1.2.3|linux/forged|AnAddress";
        default:
            return std::string(id) + "|linux/forged|Forged " + std::to_string(i);
    }
}

}  // namespace

int main(int argc, char** argv) {
    options opts;
    if (!parse_options(argc, argv, opts)) {
        std::fprintf(stderr,
                     "usage: mesk_announce_flood --target ADDRESS --own-id ID --count N --sources A,B,... "
                     "--spoof-net P.Q [--rate PER_SECOND] [--linger SECONDS]\n");
        return 2;
    }
    reply_counter replies(opts.sources);

    std::vector<int> bound;
    for (const auto& source : opts.sources) {
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        sockaddr_in from{};
        from.sin_family = AF_INET;
        from.sin_addr = ipv4(source);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&from), sizeof from) != 0) {
            std::perror(("mesk_announce_flood: cannot send from " + source).c_str());
            return 1;
        }
        bound.push_back(fd);
    }
    const int raw = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);
    if (raw < 0) {
        std::perror("mesk_announce_flood: no raw socket");
        return 1;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(announce_port);
    to.sin_addr = ipv4(opts.target);

    std::mt19937_64 draw(std::random_device{}());
    const auto started = std::chrono::steady_clock::now();
    for (long i = 0; i < opts.count; ++i) {
        const std::string text = payload(i, opts.own_id, draw);
        if (i % 4 == 0) {
            sendto(bound[static_cast<std::size_t>(i / 4) % bound.size()], text.data(), text.size(), 0,
                   reinterpret_cast<sockaddr*>(&to), sizeof to);
        } else {
            // Each forged source a new one, over the whole P.Q.0.0/16.
            const long n = i % 65000;
            const std::string source =
                opts.spoof_net + "." + std::to_string(n / 250 + 1) + "." + std::to_string(n % 250 + 1);
            std::vector<char> packet(sizeof(iphdr) + sizeof(udphdr) + text.size());
            auto* ip = reinterpret_cast<iphdr*>(packet.data());
            ip->version = 4;
            ip->ihl = 5;
            ip->ttl = 64;
            ip->protocol = IPPROTO_UDP;
            ip->tot_len = htons(static_cast<std::uint16_t>(packet.size()));
            ip->saddr = ipv4(source).s_addr;
            ip->daddr = to.sin_addr.s_addr;
            auto* udp = reinterpret_cast<udphdr*>(packet.data() + sizeof(iphdr));
            udp->source = htons(announce_port);
            udp->dest = htons(announce_port);
            udp->len = htons(static_cast<std::uint16_t>(sizeof(udphdr) + text.size()));
            std::memcpy(packet.data() + sizeof(iphdr) + sizeof(udphdr), text.data(), text.size());
            sendto(raw, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        }
        // Paced, so that the flood lasts long enough to meet the reply limits.
        const auto due = started + std::chrono::microseconds(i * 1000000 / opts.rate);
        if ((i & 63) == 0) std::this_thread::sleep_until(due);
    }
    std::this_thread::sleep_for(std::chrono::seconds(opts.linger_seconds));
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    long all = 0;
    long most = 0;
    replies.totals(all, most);
    std::printf("sent %ld\nreplies %ld\nmost_to_one %ld\nseconds %.3f\n", opts.count, all, most, elapsed);
    std::fflush(stdout);
    for (int fd : bound) close(fd);
    close(raw);
    return 0;
}
