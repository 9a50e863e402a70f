#include "core_lib/net/net_state.h"

#include "core_lib/net/peers/self_calls.h"
#include "core_lib/store/service_flags.h"
#include "core_lib/store/store_state.h"

namespace vandrel {

net_state::net_state(net_config given)
    : config(std::move(given)), self_call_secret(make_self_call_secret()), peer_port(config.peer_port) {}

net_state::~net_state() { stop(); }

void net_state::request_stop() {
    threads.request_stop();
    {
        // Requests waiting for a proof give up.
        std::lock_guard<std::mutex> lock(proofs.mutex);
    }
    proofs.finished.notify_all();
    // Queue-driven loops wake up and see the flag.
    resend_queue.enqueue(false);
    mirror_queue.enqueue(Json());
    if (current_store::find() != nullptr) wake_download_waiters();
}

void net_state::stop_servers() {
    running_servers ending;
    {
        std::lock_guard<std::mutex> lock(servers_mutex);
        ending = std::move(servers);
        servers = running_servers{};
    }
    if (ending.rest) ending.rest->stop();
    if (ending.loopback) ending.loopback->stop();
}

void net_state::stop() {
    request_stop();
    stop_servers();
    threads.stop();
    deliveries.stop();
    announce.stop();
    web_share.stop();
    proofs.stop();
    transfer_bookkeeping.stop();
    avatars.stop();
}

bool core_stopping() {
    const net_state* net = current_net::find();
    return net != nullptr && net->stopping();
}

}  // namespace vandrel
