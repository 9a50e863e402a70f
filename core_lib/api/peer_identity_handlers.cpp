#include "core_lib/api/peer_identity_handlers.h"

#include "core_lib/api/api_origin.h"
#include "core_lib/api/api_reply.h"
#include "core_lib/foundation/peer_limits.h"
#include "core_lib/foundation/text_utils.h"
#include "core_lib/net/peers/peer_identity.h"
#include "core_lib/platform/platform_services.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/settings.h"

namespace vandrel {

namespace {

// The address to store with a device: the peer's own for a peer request; for a local
// request the one stored already, so that describing a device keeps where it was seen.
std::string address_to_store(const std::string& device_id, const std::string& origin) {
    return is_local_origin(origin) ? db_get_device_last_ip(device_id) : origin;
}

}  // namespace

std::string handle_ping(Json params, std::string origin) {
    const std::string& device_id = params["device_id"].string_value();
    const Json& alias = params["alias"];
    const Json& sys_info = params["sys_info"];
    const bool described = alias.is_string() && sys_info.is_string();
    if (is_local_origin(origin)) {
        if (described) {
            db_upsert_device(device_id, sys_info.string_value(), alias.string_value(),
                             address_to_store(device_id, origin));
        }
    } else {
        if (device_id.size() > limits::id_bytes || alias.string_value().size() > limits::alias_bytes ||
            sys_info.string_value().size() > limits::alias_bytes) {
            return reply_error_code(error_too_long);
        }
        // Only a peer proven at this address changes what is stored about it; any other
        // ping is answered all the same (and starts a proof of the address).
        if (check_peer_id(device_id).empty() && peer_claim_holds(device_id, origin, false) && described) {
            db_upsert_device(device_id, sys_info.string_value(), alias.string_value(), origin);
        }
    }
    return reply_success_with({{"alias", get_alias()}, {"sys_info", get_device_model()}, {"remote_id", get_userid()}});
}

std::string handle_create_device(Json params, std::string origin) {
    const std::string id = trim(params["id"].string_value());
    const std::string alias = trim(params["alias"].string_value());
    const std::string sys_info = trim(params["sys_info"].string_value());
    if (id.empty()) return reply_error_code("empty_id");
    if (alias.empty()) return reply_error_code("empty_alias");
    if (sys_info.empty()) return reply_error_code("empty_sys_info");
    db_upsert_device(id, sys_info, alias, address_to_store(id, origin));
    return reply_success();
}

}  // namespace vandrel
