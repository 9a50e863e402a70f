#include "tests/support/temp_services.h"

#include "core_lib/net/peers/peer_avatar.h"

namespace vandrel::testing {

temp_services::temp_services(net_config config) : net_(std::move(config)) { set_avatar_fetcher(nullptr); }

temp_services::~temp_services() {
    // The pools' work ends while the net part is still bound.
    api_.stop();
    net_.stop();
}

}  // namespace vandrel::testing
