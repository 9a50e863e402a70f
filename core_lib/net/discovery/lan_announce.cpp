#include "core_lib/net/discovery/lan_announce.h"

#include <algorithm>
#include <iostream>

#include <boost/asio/ip/udp.hpp>
#include <boost/asio/post.hpp>

#include "core_lib/foundation/announce_datagram.h"
#include "core_lib/foundation/clock_random.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/http/io_manager.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_address.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/announce_text.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace net = boost::asio;
using udp = net::ip::udp;

namespace {

constexpr int burst_sends = 10;
constexpr auto burst_pause = std::chrono::seconds(2);
constexpr auto flag_check = std::chrono::seconds(5);
constexpr std::int64_t burst_period_ms = 3600000;

announce_service& service() { return current_net::get().announce; }

// The listening socket and its receive loop, on the manager's thread.
class udp_endpoint : public std::enable_shared_from_this<udp_endpoint> {
public:
    explicit udp_endpoint(net::io_context& io) : socket(io) {}

    void receive() {
        socket.async_receive_from(net::buffer(buffer), from, [self = shared_from_this()](auto ec, std::size_t n) {
            if (ec == net::error::operation_aborted) return;
            if (!ec && n > 0 && n <= announce_datagram_bytes) {
                handle_announce(std::string(self->buffer.data(), n), peer_address_text(self->from.address()));
            }
            self->receive();
        });
    }

    void send(const udp_pair& datagram, std::uint16_t port) {
        if (datagram.address.empty()) return;
        boost::system::error_code ec;
        const auto address = net::ip::make_address(datagram.address.front() == '['
                                                       ? datagram.address.substr(1, datagram.address.size() - 2)
                                                       : datagram.address,
                                                   ec);
        if (ec || (address.is_v6() != socket.local_endpoint(ec).address().is_v6())) return;
        socket.send_to(net::buffer(datagram.payload), udp::endpoint(address, port), 0, ec);
    }

    udp::socket socket;
    std::array<char, announce_datagram_bytes + 1> buffer{};
    udp::endpoint from;
};

// Whether a reply may go to the address now: once per 3 s per address, and within the
// total rate. The table is pruned of entries too old to matter.
bool may_reply(announce_service& s, const std::string& address) {
    const std::int64_t now = now_ms() / 1000;
    if (s.last_announce_reply.size() >= announce_reply_entries) {
        std::erase_if(s.last_announce_reply,
                      [now](const auto& entry) { return now - entry.second >= announce_reply_seconds; });
        if (s.last_announce_reply.size() >= announce_reply_entries) return false;
    }
    auto it = s.last_announce_reply.find(address);
    if (it != s.last_announce_reply.end() && now - it->second < announce_reply_seconds) return false;

    const auto moment = std::chrono::steady_clock::now();
    const double seconds = std::chrono::duration<double>(moment - s.tokens_at).count();
    s.tokens_at = moment;
    s.reply_tokens = std::min(announce_replies_per_second, s.reply_tokens + seconds * announce_replies_per_second);
    if (s.reply_tokens < 1) return false;
    s.reply_tokens -= 1;
    s.last_announce_reply[address] = now;
    return true;
}

// On the handling pool: the store and the directory.
void take_announce(const std::string& id, const std::string& sys_info, const std::string& alias,
                   const std::string& address) {
    if (peer_claim_holds(id, address, false, claim_by::datagram)) db_upsert_device(id, sys_info, alias, address);
}

}  // namespace

announce_service::announce_service() : handling(1, 256, "mesk-ann-rx") {}

announce_service::~announce_service() { stop(); }

void announce_service::stop() {
    std::unique_ptr<io_manager> ending;
    {
        std::lock_guard<std::mutex> lock(mutex);
        ending = std::move(manager);
        socket.reset();
    }
    if (ending) ending->stop();
    handling.stop();
}

void start_udp_announce_service() {
    net_state& running = current_net::get();
    announce_service& s = running.announce;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (s.manager) return;
    auto manager = std::make_unique<io_manager>("udp announce", std::chrono::milliseconds(50), 1, "mesk-udp-io");
    auto endpoint = std::make_shared<udp_endpoint>(manager->context());
    boost::system::error_code ec;
    const auto host = running.config.bind_address.empty() ? net::ip::address(net::ip::address_v4::any())
                                                          : net::ip::make_address(running.config.bind_address, ec);
    if (!ec) endpoint->socket.open(host.is_v6() ? udp::v6() : udp::v4(), ec);
    if (!ec) endpoint->socket.set_option(net::socket_base::broadcast(true), ec);
    if (!ec) endpoint->socket.bind(udp::endpoint(host, running.config.announce_port), ec);
    if (ec) {
        report_service_not_started("announce", ec.message());
        return;
    }
    manager->keep(endpoint);
    net::post(manager->context(), [endpoint] { endpoint->receive(); });
    s.socket = endpoint;
    s.manager = std::move(manager);
}

void stop_udp_announce_service() { current_net::get().announce.stop(); }

void queue_udp_datagram(std::string address, std::string payload) {
    net_state& running = current_net::get();
    announce_service& s = running.announce;
    std::lock_guard<std::mutex> lock(s.mutex);
    if (!s.manager) return;
    if (loopback_only(running.config)) {
        boost::system::error_code ec;
        if (!net::ip::make_address(address, ec).is_loopback() || ec) return;
    }
    auto endpoint = std::static_pointer_cast<udp_endpoint>(s.socket);
    const std::uint16_t port = running.config.announce_port;
    net::post(s.manager->context(), [endpoint, datagram = udp_pair{std::move(address), std::move(payload)}, port] {
        endpoint->send(datagram, port);
    });
}

bool handle_announce(const std::string& payload, const std::string& from_address) {
    std::string id, sys_info, alias;
    if (core_stopping() || payload.size() > announce_datagram_bytes || !parse_datagram(payload, id, sys_info, alias))
        return false;
    if (sys_info.size() > limits::alias_bytes || alias.size() > limits::alias_bytes) return false;
    if (!check_peer_id(id).empty()) return false;  // this device's own broadcast among them
    const std::string address = normalize_peer_address(from_address);
    if (address.empty()) return false;
    announce_service& s = service();
    std::string name = "announce from " + address;
    std::function<void()> job = [id, sys_info, alias, address] { take_announce(id, sys_info, alias, address); };
    s.handling.push(name, job);  // a full queue drops it: the announcer repeats itself
    if (may_reply(s, address)) queue_udp_datagram(address, make_datagram());
    return true;
}

void lan_announce_loop() {
    net_state& running = current_net::get();
    std::int64_t last_burst = 0;
    while (!core_stopping()) {
        if (now_ms() - last_burst <= burst_period_ms && !lan_announce_flag().exchange(false)) {
            if (!running.threads.sleep_for(flag_check)) return;
            continue;
        }
        lan_announce_flag() = false;
        last_burst = now_ms();
        const std::string datagram = make_datagram();
        for (int i = 0; i < burst_sends; ++i) {
            if (core_stopping()) return;
            for (const std::string& address : get_broadcast_addresses()) queue_udp_datagram(address, datagram);
            if (!running.threads.sleep_for(burst_pause)) return;
        }
    }
}

}  // namespace vandrel
