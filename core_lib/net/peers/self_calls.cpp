#include "core_lib/net/peers/self_calls.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <array>
#include <exception>
#include <mutex>
#include <stdexcept>

#include "core_lib/net/http/certificate.h"
#include "core_lib/net/http/http_server.h"
#include "core_lib/net/net_state.h"
#include "core_lib/net/peers/peer_address.h"
#include "core_lib/net/peers/public_key.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/peer_addresses.h"
#include "core_lib/store/settings.h"

namespace vandrel {

std::string make_self_call_secret() {
    std::array<unsigned char, 32> bytes{};
    if (RAND_bytes(bytes.data(), static_cast<int>(bytes.size())) != 1) {
        throw std::runtime_error("no random bytes for the self-call secret");
    }
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const unsigned char byte : bytes) {
        text.push_back(digits[byte >> 4]);
        text.push_back(digits[byte & 0x0f]);
    }
    return text;
}

std::string own_loopback_address() { return normalize_peer_address(loopback_host(current_net::get().config)); }

std::uint16_t own_rest_port() {
    net_state& net = current_net::get();
    std::lock_guard<std::mutex> lock(net.servers_mutex);
    return net.servers.rest_port;
}

bool is_own_device(const std::string& device_id) { return !device_id.empty() && device_id == get_userid(); }

std::string own_key_sha256() {
    try {
        return certificate_key_sha256(get_data_folder_path() + certificate_file_name);
    } catch (const std::exception&) {
        return "";
    }
}

std::vector<std::pair<std::string, std::string>> self_call_fields() {
    return {{self_call_header, current_net::get().self_call_secret}};
}

bool is_self_call(const http_request& request) {
    const net_state* net = current_net::find();
    if (net == nullptr) return false;
    const std::string given = request.header(self_call_header);
    const std::string& secret = net->self_call_secret;
    // The length is no secret; the bytes are compared in constant time.
    if (secret.empty() || given.size() != secret.size() ||
        CRYPTO_memcmp(given.data(), secret.data(), secret.size()) != 0) {
        return false;
    }
    // Only while the self test has this device in the directory, and from where it
    // calls itself: a late call of a run that ended counts as nobody's.
    const std::string own_address = own_loopback_address();
    return request.peer_address == own_address && get_peer_ip(get_userid()) == own_address;
}

}  // namespace vandrel
