#include "core_lib/net/peers/peer_identity.h"

#include <algorithm>
#include <exception>
#include <iostream>

#include "core_lib/foundation/json.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/net/http/https_client.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_address.h"
#include "core_lib/net/peers/peer_api.h"
#include "core_lib/net/peers/peer_directory.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/platform/ui_event_channel.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/ids.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

constexpr unsigned proof_workers = 4;
// A ping answer is an identity: a few texts.
constexpr std::uint64_t ping_answer_bytes = std::uint64_t{64} * 1024;

peer_proofs& proofs() { return current_net::get().proofs; }

void warn_key_changed(const std::string& device_id, const std::string& address) {
    {
        peer_proofs& p = proofs();
        std::lock_guard<std::mutex> lock(p.mutex);
        if (p.warned.size() >= limits::known_peers || !p.warned.insert(device_id).second) return;
    }
    std::cerr << "peer " << device_id << " at " << address << " showed another key; refused\n";
    send_to_ui(Json(Json::object{{"action", "peer_key_changed"}, {"peer_id", device_id}, {"address", address}}).dump());
}

bool fits(const Json& value, std::size_t limit) { return value.is_string() && value.string_value().size() <= limit; }

// The answer of `device_id` at `address`, which showed `key`: taken when the key is the
// one pinned for that id (or none was), then stored and noted.
bool accept_peer(const std::string& device_id, const std::string& address, const std::string& key, const Json& alias,
                 const Json& sys_info) {
    if (!check_peer_id(device_id).empty() || key.empty()) return false;
    if (!fits(alias, limits::alias_bytes) || !fits(sys_info, limits::alias_bytes)) return false;
    const std::string pinned = db_pin_device_key(device_id, key);
    if (pinned != key) {
        warn_key_changed(device_id, address);
        return false;
    }
    db_upsert_device(device_id, sys_info.string_value(), alias.string_value(), address);
    peer_seen(device_id, address);
    return true;
}

// Under p.mutex.
void forget_running(peer_proofs& p, const std::string& address) {
    auto it = p.running.find(address);
    if (it == p.running.end()) return;
    if (it->second->by_datagram) --p.running_by_datagram;
    p.running.erase(it);
}

// Runs on the proof pool: the proof of one address, handed to whoever waits for it.
void run_proof(const std::string& address, const std::shared_ptr<peer_proofs::proof>& proof) {
    std::string proven;
    try {
        proven = prove_peer_at(address, limits::proof_time);
    } catch (const std::exception& e) {
        std::cerr << "proof of " << address << " failed: " << e.what() << "\n";
    }
    peer_proofs& p = proofs();
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        proof->done = true;
        proof->proven_id = proven;
        forget_running(p, address);
    }
    p.finished.notify_all();
}

// Under p.mutex: whether a datagram may start a proof of the address now, and if so
// counts it. The table keeps only addresses tried within the pause.
bool datagram_may_prove(peer_proofs& p, const std::string& address) {
    const auto now = std::chrono::steady_clock::now();
    if (p.datagram_tried.size() >= limits::pending_proofs * 16) {
        std::erase_if(p.datagram_tried,
                      [now](const auto& entry) { return now - entry.second >= datagram_proof_pause; });
        if (p.datagram_tried.size() >= limits::pending_proofs * 16) return false;
    }
    auto it = p.datagram_tried.find(address);
    if (it != p.datagram_tried.end() && now - it->second < datagram_proof_pause) return false;
    const double seconds = std::chrono::duration<double>(now - p.datagram_tokens_at).count();
    p.datagram_tokens_at = now;
    p.datagram_tokens = std::min(datagram_proofs_per_second, p.datagram_tokens + seconds * datagram_proofs_per_second);
    if (p.datagram_tokens < 1) return false;
    p.datagram_tokens -= 1;
    p.datagram_tried[address] = now;
    return true;
}

// The proof of the address under way, started when there is none; null when no more
// proofs may wait. Proofs started by datagrams and by connections are counted apart,
// so that forged datagrams never take the room of a peer that connected.
std::shared_ptr<peer_proofs::proof> proof_of(const std::string& address, claim_by source) {
    peer_proofs& p = proofs();
    const bool by_datagram = source == claim_by::datagram;
    std::shared_ptr<peer_proofs::proof> proof;
    {
        std::lock_guard<std::mutex> lock(p.mutex);
        auto it = p.running.find(address);
        if (it != p.running.end()) return it->second;
        const std::size_t of_kind = by_datagram ? p.running_by_datagram : p.running.size() - p.running_by_datagram;
        if (of_kind >= limits::pending_proofs) return nullptr;
        if (by_datagram && !datagram_may_prove(p, address)) return nullptr;
        proof = std::make_shared<peer_proofs::proof>();
        proof->by_datagram = by_datagram;
        p.running.emplace(address, proof);
        if (by_datagram) ++p.running_by_datagram;
    }
    std::string name = "proof of " + address;
    std::function<void()> job = [address, proof] { run_proof(address, proof); };
    if (!(by_datagram ? p.datagram_pool : p.pool).push(name, job)) {
        std::lock_guard<std::mutex> lock(p.mutex);
        forget_running(p, address);
        return nullptr;
    }
    return proof;
}

}  // namespace

peer_proofs::peer_proofs()
    : pool(proof_workers, limits::pending_proofs, "mesk-proof"),
      datagram_pool(proof_workers, limits::pending_proofs, "mesk-proof-dg") {}

std::string check_peer_id(const std::string& id) {
    if (id.empty()) return "empty_id";
    if (id.size() > limits::id_bytes) return "too_long";
    if (!is_safe_id(id) || !normalize_peer_address(id).empty()) return "invalid_id";
    if (id == get_userid()) return "forbidden";
    return "";
}

std::string prove_peer_at(const std::string& address, std::chrono::milliseconds deadline) {
    const std::string normal = normalize_peer_address(address);
    if (normal.empty() || core_stopping()) return "";
    const std::string own_id = get_userid();
    const Json ping(Json::object{{"device_id", own_id}, {"alias", get_alias()}, {"sys_info", get_device_model()}});
    const https_answer answer =
        post_json_for_key(peer_api_url(normal, "/ping"), ping.dump(), deadline, ping_answer_bytes);
    std::string err;
    const Json reply = Json::parse(answer.body, err);
    const Json& remote_id = reply["remote_id"];
    if (!remote_id.is_string() || remote_id.string_value() == own_id) return "";
    if (!accept_peer(remote_id.string_value(), normal, answer.key_sha256, reply["alias"], reply["sys_info"])) return "";
    return remote_id.string_value();
}

bool peer_claim_holds(const std::string& device_id, const std::string& origin, bool wait, claim_by source) {
    const std::string address = normalize_peer_address(origin);
    if (address.empty() || !check_peer_id(device_id).empty()) return false;
    if (get_peer_ip(device_id) == address) return true;
    peer_proofs& p = proofs();
    const std::shared_ptr<peer_proofs::proof> proof = proof_of(address, source);
    if (!proof || !wait) return false;
    std::unique_lock<std::mutex> lock(p.mutex);
    // Room for the proof to wait its turn on the pool, and then to run.
    p.finished.wait_for(lock, limits::proof_time * 3, [&] { return proof->done || core_stopping(); });
    return proof->done && proof->proven_id == device_id;
}

void forget_peer_key(const std::string& device_id) {
    db_set_device_key(device_id, "");
    peer_proofs& p = proofs();
    std::lock_guard<std::mutex> lock(p.mutex);
    p.warned.erase(device_id);
}

}  // namespace vandrel
