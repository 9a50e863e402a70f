// mesk_probe: one in-process core that plays a peer in the network tests.
//   mesk_probe ping PEER_ID PEER_ADDRESS
// records the peer at that address, posts "/ping" to it through the peer API and prints
// "reply TEXT", "me DEVICE_ID" and "peer_ip ADDRESS" (its directory's entry for the peer).
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>

#include "MeskRuntimeComponent/dispatcher.h"
#include "MeskRuntimeComponent/linux_platform_services.h"
#include "core_lib/foundation/json.h"
#include "core_lib/net/peer_api.h"
#include "core_lib/net/peer_directory.h"
#include "core_lib/startup/core.h"
#include "core_lib/store/devices.h"
#include "core_lib/store/settings.h"

using namespace vandrel;

int main(int argc, char** argv) {
    if (argc != 4 || std::string(argv[1]) != "ping") {
        std::cerr << "usage: mesk_probe ping PEER_ID PEER_ADDRESS\n";
        return 2;
    }
    const std::string peer_id = argv[2];
    const std::string address = argv[3];
    core_config config;
    config.platform = std::make_shared<LinuxPlatformServices>(Dispatcher::create(), LinuxPlatformConfig{});
    // Its store and services, not started: it only calls out.
    core probe(std::move(config));

    db_upsert_device(peer_id, "", "", address);
    Json ping(Json::object{{"device_id", get_userid()}, {"alias", get_alias()}, {"sys_info", get_device_model()}});
    const std::string reply = post_to_peer_api(peer_id, "/ping", ping.dump());
    std::printf("reply %s\nme %s\npeer_ip %s\n", reply.c_str(), get_userid().c_str(), get_peer_ip(peer_id).c_str());
    std::fflush(stdout);
    return 0;
}
